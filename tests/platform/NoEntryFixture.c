/* A library without the lookup entry point. */
int SomethingElse(void) { return 1; }
