/* The smallest 32-bit x86 Linux program: it only exits with status 0. The set-up and the test runner build it
   (gcc -m32 -nostdlib -static) and run it to learn whether this machine's kernel executes 32-bit code, which
   32-bit Wine needs. */
void _start(void) {
    __asm__ volatile("movl $1, %eax\n\tmovl $0, %ebx\n\tint $0x80");
}
