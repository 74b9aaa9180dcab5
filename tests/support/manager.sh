# Sourced by the end-to-end scripts: which source manager a Windows build runs under in them.
# manager_of BUILD prints TWAINDSM or TWAIN_32: KV_TEST_DSM when set (tools/velmar-host sets the
# extension's option "DSM" to it; AUTO takes TWAINDSM.DLL, which every build's prefix has),
# else the build's default, TWAIN_32 for the 32-bit build and TWAINDSM for the 64-bit one.
manager_of() {
  case "${KV_TEST_DSM:-}" in
    TWAINDSM | AUTO) echo TWAINDSM ;;
    TWAIN_32) echo TWAIN_32 ;;
    *) [ "$1" = windows64 ] && echo TWAINDSM || echo TWAIN_32 ;;
  esac
}
