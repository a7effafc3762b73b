# What the simulated game's image carries for Pathlight's start-up scan, laid out as the game's
# compiler (Microsoft x64) lays it out: type descriptors in writable data, complete object
# locators and class tables in read-only data (`.rva` emits the image-relative words), and the
# code that loads the game's globals. Decoys sit in front of the real things so that a scan that
# takes the first thing it sees takes the wrong one.
#
# planted_image.cpp writes the offsets of the real things to the ground-truth file and switches
# the image variants by patching these bytes (or protecting their pages) before the library is
# loaded.
#
# Sections: globals, type descriptors, locators and class tables, session-global sites, clock,
# riding-vehicle check.

  .intel_syntax noprefix

# ---- globals ------------------------------------------------------------------------------------
# Written by the simulated game at run time; the library only ever reads them.

  .data
  .balign 8
  .globl planted_session_global, planted_decoy_global, planted_minor_global
  .globl planted_actors_global, planted_characters_global, planted_vehicles_global
  .globl planted_clock_seconds, planted_clock_milliseconds
planted_session_global:     .quad 0
planted_decoy_global:       .quad 0
planted_minor_global:       .quad 0
planted_actors_global:      .quad 0
planted_characters_global:  .quad 0
planted_vehicles_global:    .quad 0
planted_clock_seconds:      .quad 0
planted_clock_milliseconds: .quad 0

# ---- type descriptors -----------------------------------------------------------------------------
# Class-table pointer, spare word, decorated name. The minimap's and the camera manager's names
# also appear earlier as ordinary strings (a message table), with no locator behind them.

  .ascii "class names: "
  .asciz ".?AVUIGamePlayControlRootMiniMap@uiCommonScript@pa@@"
  .ascii "camera: "
  .asciz ".?AVCameraManager@pa@@"

.macro TYPE_DESCRIPTOR id, name
  .balign 8
  .globl planted_td_\id
planted_td_\id:
  .quad 0, 0
  .asciz "\name"
.endm

  TYPE_DESCRIPTOR minimap, ".?AVUIGamePlayControlRootMiniMap@uiCommonScript@pa@@"
  TYPE_DESCRIPTOR worldmap, ".?AVUIGamePlayControlRootWorldMap@uiCommonScript@pa@@"
  TYPE_DESCRIPTOR icon, ".?AVUIGamePlayControlCommon_MiniMapIcon@uiCommonScript@pa@@"
  TYPE_DESCRIPTOR camera, ".?AVCameraManager@pa@@"
  TYPE_DESCRIPTOR vehicle_component, ".?AVClientVehicleActorComponent@pa@@"
  TYPE_DESCRIPTOR actor_manager, ".?AVClientActorManager@pa@@"
  TYPE_DESCRIPTOR riding_condition, ".?AVConditionData_CheckRidingVehicleType@pa@@"

# ---- locators and class tables --------------------------------------------------------------------

  .section .rdata,"dr"

# One class hierarchy descriptor serves all: nothing reads it.
  .balign 4
planted_hierarchy:
  .long 0, 0, 0, 0

.macro LOCATOR id, descriptor, offset
  .balign 4
planted_col_\id:
  .long 1, \offset, 0
  .rva \descriptor
  .rva planted_hierarchy
  .rva planted_col_\id
.endm

# The locator's address in the word before the first slot.
.macro CLASS_TABLE id, slots:vararg
  .balign 8
  .quad planted_col_\id
  .globl planted_vt_\id
planted_vt_\id:
  .quad \slots
.endm

# A page that the guarded-pages variant makes a guard page, in front of the locators.
  .balign 4096
  .globl planted_guard_page
planted_guard_page:
  .space 4096, 0

# The camera manager's base-class sub-object (offset 8) comes first, with its own class table.
  LOCATOR camera_base, planted_td_camera, 8
  CLASS_TABLE camera_base, planted_fn_ret, planted_fn_ret

  LOCATOR minimap, planted_td_minimap, 0
  CLASS_TABLE minimap, planted_fn_ret, planted_fn_ret, planted_fn_ret, planted_fn_ret
  LOCATOR worldmap, planted_td_worldmap, 0
  CLASS_TABLE worldmap, planted_fn_ret, planted_fn_ret, planted_fn_ret, planted_fn_ret
  LOCATOR icon, planted_td_icon, 0
  CLASS_TABLE icon, planted_fn_ret, planted_fn_ret, planted_fn_ret
  LOCATOR camera, planted_td_camera, 0
  CLASS_TABLE camera, planted_fn_ret, planted_fn_ret, planted_fn_ret
  LOCATOR vehicle_component, planted_td_vehicle_component, 0
  CLASS_TABLE vehicle_component, planted_fn_ret, planted_fn_ret
  LOCATOR actor_manager, planted_td_actor_manager, 0
  CLASS_TABLE actor_manager, planted_fn_ret, planted_fn_ret
# The condition's slots: a plain function, a function in another module, a function that loads
# the thread's storage but is not the check, then the check through a jump thunk.
  LOCATOR riding_condition, planted_td_riding_condition, 0
  CLASS_TABLE riding_condition, planted_fn_ret, 0x00007FF8A0001000, planted_fn_tls_only, planted_vehicle_check_thunk, planted_fn_ret

# ---- code -----------------------------------------------------------------------------------------

  .text
  .p2align 4
planted_fn_ret:
  ret

  .p2align 4
planted_fn_tls_only:
  .byte 0x65, 0x48, 0x8B, 0x04, 0x25, 0x58, 0x00, 0x00, 0x00   # mov rax, gs:[0x58]
  mov rax, qword ptr [rip + planted_decoy_global]
  ret

# ---- session-global sites ---------------------------------------------------------------------------
# Each site is 12 bytes: mov r64, [rip+global]; mov r64, [that register+0x30]; nop. The variants
# break sites by changing the displacement byte at +10 (see planted_image.cpp).

.macro SITE_RAX global
  mov rax, qword ptr [rip + \global]
  mov rcx, qword ptr [rax + 0x30]
  nop
.endm
.macro SITE_R9 global
  mov r9, qword ptr [rip + \global]
  mov rdx, qword ptr [r9 + 0x30]
  nop
.endm
.macro SITE_RBX global
  mov rbx, qword ptr [rip + \global]
  mov r13, qword ptr [rbx + 0x30]
  nop
.endm

# A page that the guarded-pages variant makes inaccessible, in front of the sites.
  .p2align 12
  .globl planted_no_access_page
planted_no_access_page:
  .space 4096, 0xCC

  .p2align 4
  .globl planted_session_sites
planted_session_sites:
  .rept 8
  SITE_RAX planted_session_global
  SITE_R9 planted_session_global
  SITE_RBX planted_session_global
  .endr

# A runner-up below half, and a third global.
  .rept 9
  SITE_RAX planted_decoy_global
  .endr
  .rept 4
  SITE_R9 planted_minor_global
  .endr

# Near misses, each more often than the real sites: a target at the image's first byte, one far
# beyond its end, a field other than +0x30, a read through another register, a base that needs an
# index byte.
  .rept 30
  SITE_RAX __ImageBase
  .endr
  .rept 30
  .byte 0x48, 0x8B, 0x05
  .long 0x7FFF0000
  .byte 0x48, 0x8B, 0x48, 0x30
  .endr
  .rept 30
  mov rax, qword ptr [rip + planted_decoy_global]
  mov rcx, qword ptr [rax + 0x38]
  mov rax, qword ptr [rip + planted_decoy_global]
  mov rcx, qword ptr [rdx + 0x30]
  mov r12, qword ptr [rip + planted_decoy_global]
  mov rax, qword ptr [r12 + 0x30]
  .endr

# ---- clock ---------------------------------------------------------------------------------------
# The game's time of day: seconds plus milliseconds / 1000. A division by 1000 without the loads
# in front of it comes first.

  .p2align 4
planted_fn_milliseconds_to_seconds:
  mov rax, rcx
  movabs rax, 0x0624DD2F1A9FBE77
  mul rcx
  shr rdx, 7
  mov rax, rdx
  ret

  .p2align 4
planted_fn_clock:
  mov r8, qword ptr [rip + planted_clock_seconds]
  test r8, r8
  je 1f
  mov rcx, qword ptr [rip + planted_clock_milliseconds]
  movabs rax, 0x0624DD2F1A9FBE77
  mul rcx
  shr rdx, 7
  lea rax, [rdx + r8]
1:
  ret

# ---- riding-vehicle check -------------------------------------------------------------------------
# The condition's check names the vehicle the player rides: the thread's storage, the actors
# global, a call to the vehicles getter followed by the id compare, a call to the character lookup
# followed by the character id load. Getters and the lookup are reached through 5-byte jump
# thunks, written out so the assembler cannot shorten them.

.macro JUMP_THUNK name, target
  .p2align 3
\name:
  .byte 0xE9
  .long \target - . - 4
.endm

  .p2align 4
planted_characters_getter:
  push rbx
  mov rbx, qword ptr [rip + planted_characters_global]
  mov rax, rbx
  pop rbx
  ret

  .p2align 4
planted_vehicles_getter:
  push rbx
  mov rbx, qword ptr [rip + planted_vehicles_global]
  mov rax, rbx
  pop rbx
  ret

  JUMP_THUNK planted_characters_getter_thunk, planted_characters_getter
  JUMP_THUNK planted_vehicles_getter_thunk, planted_vehicles_getter
  JUMP_THUNK planted_vehicles_getter_thunk2, planted_vehicles_getter_thunk

  .p2align 4
planted_character_lookup:
  sub rsp, 0x28
  call planted_characters_getter_thunk
  movzx ecx, word ptr [rax + 0xA0]
  add rsp, 0x28
  ret

  JUMP_THUNK planted_character_lookup_thunk, planted_character_lookup

  .p2align 4
planted_vehicle_check:
  push rbp
  push rsi
  sub rsp, 0x28
  .byte 0x65, 0x48, 0x8B, 0x04, 0x25, 0x58, 0x00, 0x00, 0x00   # mov rax, gs:[0x58]
  mov rax, qword ptr [rax + rcx * 8]
  mov rax, qword ptr [rip + planted_actors_global]
  call planted_vehicles_getter_thunk2
  mov ecx, dword ptr [rsi + 0x18]
  cmp dword ptr [rax + 0x40], ecx
  jne 1f
  call planted_character_lookup_thunk
  movzx edx, word ptr [rbp + 0x38]
1:
  add rsp, 0x28
  pop rsi
  pop rbp
  ret

  JUMP_THUNK planted_vehicle_check_thunk, planted_vehicle_check

  .att_syntax prefix
