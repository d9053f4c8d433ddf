/* A minimal program for the resource editor's tests: no C runtime, one
 * absolute address (so the linker has a relocation to write), and an exit
 * code that shows the image still loads and runs after an edit. */
static int value = 42;
int *volatile pointer = &value;

int start(void) { return *pointer; }
