// The one main of every tool. A tool's work is in its tool_main, which the
// tests run in-process; its result is the exit status (-1 gives 255).

int tool_main(int argc, char **argv);

int main(int argc, char **argv)
{
    return tool_main(argc, argv);
}
