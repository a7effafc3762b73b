# The padded simulated game's extra code: 112 MB inside its code section, so that its image is as
# large as a real game's. The host fills it with code-like bytes at start (planted_image.cpp).
  .section .text$zzpad,"x"
  .p2align 4
  .globl planted_pad_begin
planted_pad_begin:
  .space 112 * 1024 * 1024, 0xCC
  .globl planted_pad_end
planted_pad_end:
