// Keeps the support library non-empty while tests/support/ is.
namespace ramulon_test_support_anchor { int anchor = 0; }
