namespace ramulon {

void Shutdown(void *) {}

} // namespace ramulon
