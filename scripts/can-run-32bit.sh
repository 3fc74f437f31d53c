#!/usr/bin/env bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs (many kernels refuse them):
# a tiny static program that only exits, assembled and linked here, tells.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '.globl _start\n_start: movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/exit.s"
as --32 -o "$dir/exit.o" "$dir/exit.s" 2>/dev/null &&
  ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>/dev/null &&
  "$dir/exit" 2>/dev/null
