// A shared library that is not a Data Source Manager: it has no DSM_Entry.
extern "C" __attribute__((visibility("default"))) int NotAManager() {
    return 0;
}
