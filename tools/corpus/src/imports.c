/*
 * A module that uses another module: it calls two functions and reads one
 * object of "other.vkm". The symbols come from the import sections in
 * imports_sections.S, so every call is a relative branch into an import
 * section, which the loader routes through a trampoline.
 */

extern int other_add(int a, int b);
extern void other_log(const char *text);
extern int other_value;

static const char imports_message[] = "imports module running";

int imports_run(int x)
{
    other_log(imports_message);
    return other_add(x, other_value) + 1;
}

void _start(void)
{
    imports_run(0);
}
