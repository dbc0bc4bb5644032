// Preloaded into the programs of the sanitizer build's end-to-end cases.
// LeakSanitizer looks for leaks at exit, after Qt has unloaded its platform
// plugin and the libraries only that plugin needed; a leak inside one of them
// then has no library name, and its suppression cannot match. Keeping every
// library loaded leaves the names in place.
extern "C" int dlclose(void *)
{
    return 0;
}
