/* Start-up code for the -nostdlib build of tarsk4.exe.
 *
 * mingw's own start-up objects add a TLS directory, CMOV instructions and
 * imports that Windows 95 and NT 4.0 lack, so the program brings this one
 * instead. The C runtime DLL (crtdll.dll or msvcrt.dll) still does the work:
 * it splits the command line, and its exit() flushes stdio.
 */
#include <stdlib.h>

int main(int argc, char **argv);

#if defined(TARSK4_CRTDLL)
/* crtdll.dll's own names. libcrtdll.a would wrap them in helper code of its
 * own (built for newer CPUs, with unwind tables): call the DLL directly. */
void __GetMainArgs(int *argc, char ***argv, char ***envp, int expand_wildcards);

/* crtdll's FILE, 32 bytes, the same layout as msvcrt's. */
struct tarsk4_iobuf {
    char *ptr;
    int cnt;
    char *base;
    int flag;
    int file;
    int charbuf;
    int bufsiz;
    char *tmpfname;
};
extern __declspec(dllimport) struct tarsk4_iobuf _iob[];

/* mingw's stdio.h spells stdin, stdout and stderr as __acrt_iob_func(0..2)
 * and declares it dllimport, so callers load its address from the __imp_
 * pointer. Both are defined here, in place of libcrtdll.a's. */
struct tarsk4_iobuf *__acrt_iob_func(unsigned index);
struct tarsk4_iobuf *__acrt_iob_func(unsigned index) {
    return &_iob[index];
}
struct tarsk4_iobuf *(*_imp____acrt_iob_func)(unsigned) = __acrt_iob_func;
#else
/* msvcrt's form; it fills in the last argument's new-handler mode. */
typedef struct {
    int newmode;
} tarsk4_startupinfo;

int __getmainargs(int *argc, char ***argv, char ***envp, int expand_wildcards,
                  tarsk4_startupinfo *info);
#endif

/* The linker brackets the .ctors section with these. GCC calls __main at the
 * top of main() to run them; the program should have none, but if a global
 * constructor slips in it runs instead of being silently skipped. */
typedef void (*tarsk4_ctor)(void);
extern tarsk4_ctor __CTOR_LIST__[];

void __main(void);
void mainCRTStartup(void);

void __main(void) {
    static int done;
    unsigned long count = 0;

    if (done) {
        return;
    }
    done = 1;
    /* Word 0 is -1 or a count; the list ends with a null entry. */
    while (__CTOR_LIST__[count + 1] != 0) {
        count++;
    }
    /* Run in reverse, as the linker collects them in reverse link order. */
    while (count > 0) {
        __CTOR_LIST__[count]();
        count--;
    }
}

/* GCC calls ___chkstk_ms before a stack frame of 4 KiB or more, with the size
 * in eax/rax, so that each guard page is touched in order and the stack grows
 * instead of faulting. It lives in libgcc, which this build does not link.
 * It must keep every register but the flags. */
#if defined(__x86_64__)
__asm__(".text\n"
        ".globl ___chkstk_ms\n"
        "___chkstk_ms:\n"
        "    pushq %rcx\n"
        "    pushq %rax\n"
        "    leaq 24(%rsp), %rcx\n" /* the caller's stack pointer */
        "1:  cmpq $0x1000, %rax\n"
        "    jb 2f\n"
        "    subq $0x1000, %rcx\n"
        "    orl $0, (%rcx)\n"
        "    subq $0x1000, %rax\n"
        "    jmp 1b\n"
        "2:  subq %rax, %rcx\n"
        "    orl $0, (%rcx)\n"
        "    popq %rax\n"
        "    popq %rcx\n"
        "    ret\n");
#else
__asm__(".text\n"
        ".globl ___chkstk_ms\n"
        "___chkstk_ms:\n"
        "    pushl %ecx\n"
        "    pushl %eax\n"
        "    leal 12(%esp), %ecx\n" /* the caller's stack pointer */
        "1:  cmpl $0x1000, %eax\n"
        "    jb 2f\n"
        "    subl $0x1000, %ecx\n"
        "    orl $0, (%ecx)\n"
        "    subl $0x1000, %eax\n"
        "    jmp 1b\n"
        "2:  subl %eax, %ecx\n"
        "    orl $0, (%ecx)\n"
        "    popl %eax\n"
        "    popl %ecx\n"
        "    ret\n");
#endif

void mainCRTStartup(void) {
    int argc = 0;
    char **argv = 0;
    char **envp = 0;

#if defined(TARSK4_CRTDLL)
    __GetMainArgs(&argc, &argv, &envp, 0);
#else
    tarsk4_startupinfo info = {0};
    __getmainargs(&argc, &argv, &envp, 0, &info);
#endif
    exit(main(argc, argv));
}
