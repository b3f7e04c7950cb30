// One entry point per toolkit function (ui/gtk_functions.inc), named as the
// toolkit names it: a jump through the pointer ui/toolkit_loader.cc fills
// once the library is loaded. A jump leaves every argument register as the
// caller set it, variadic calls included.
#define QORV_GTK_FUNCTION(name)      \
  .globl name;                       \
  .hidden name;                      \
  .type name, @function;             \
  .p2align 4;                        \
  name:                              \
  endbr64;                           \
  jmp *qorv_gtk_##name(%rip);        \
  .size name, .- name;

  .text
#include "ui/gtk_functions.inc"

  .section .note.GNU-stack, "", @progbits
