// A program that does nothing; built with and without a version record so
// the tests have executables to read.
int main() { return 0; }
