/* Stands for musl's C library as a linker sees it: a shared object named
 * libc.so. */
__attribute__((visibility("default"))) void fixture_libc(void)
{
}
