/* Stands in for both conversion libraries and answers with what the loader passed it. */
__attribute__((visibility("default"))) int facet_kvx_file(const char* in, double tol, const char* out,
                                                          int mode) {
    return mode;
}

__attribute__((visibility("default"))) int facet_kvx_file2(const char* in, double tol, const char* out,
                                                           int mode, int flag) {
    return mode * 10 + flag;
}
