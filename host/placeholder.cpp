// Placeholder until the stand-in modeller lands.
namespace host_placeholder { int anchor = 0; }
