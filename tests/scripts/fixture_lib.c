/* A shared library with one export, staged as a shipped one would be. */
__attribute__((visibility("default"))) int fixture_answer(void)
{
    return 42;
}
