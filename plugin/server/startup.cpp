namespace ramulon {

// Nothing to set up; the host only needs a non-null value back.
void *Startup() { return reinterpret_cast<void *>(4); }

} // namespace ramulon
