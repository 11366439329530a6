/* int32_t kx_call_stdcall(const void *fn, const uint32_t *args, int count, int32_t *delta)
 *
 * Pushes count 32-bit arguments right to left, calls fn and reports how far
 * the stack pointer moved across the call: 0 when the callee removed exactly
 * its own arguments, as a WINAPI function must. The stack is restored either
 * way, so a wrong convention shows as a number, not as a crash. */
    .text
    .globl _kx_call_stdcall
_kx_call_stdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 8(%ebp), %eax
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *%eax
    movl %esp, %ecx
    subl %edi, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
