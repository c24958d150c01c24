#!/bin/sh
# Kernel configuration tests of the test driver package.
#   kernel_test.sh CC ARCH SOURCE OUTPUT TEST [OPERAND...]
# Exit status 0 means yes. Tests:
#   test_configuration_option CONFIG_X  the option is y or m in the kernel configuration
#   guess_module_signing_hash           prints CONFIG_MODULE_SIG_HASH
#   vgpu_kvm_sanity_check               VGPU_ENABLE=1 and the kernel has KVM and VFIO mdev
# A file named by OSTREL_CONFTEST_ANSWERS overrides answers, one line per test:
#   TEST [OPERAND...] = STATUS [OUTPUT]
[ $# -ge 5 ] || { echo "usage: $0 CC ARCH SOURCE OUTPUT TEST [OPERAND...]" >&2; exit 2; }
src=$3
out=$4
shift 4
key=$*

if [ -n "$OSTREL_CONFTEST_ANSWERS" ] && [ -r "$OSTREL_CONFTEST_ANSWERS" ]; then
  answer=$(awk -v k="$key = " 'index($0, k) == 1 { print substr($0, length(k) + 1); exit }' \
    "$OSTREL_CONFTEST_ANSWERS")
  if [ -n "$answer" ]; then
    status=${answer%% *}
    [ "$answer" = "$status" ] || printf '%s\n' "${answer#* }"
    exit "$status"
  fi
fi

# The configuration of the tree; a Debian "-common" source tree keeps it in its sibling
# architecture tree.
real=$(readlink -f "$src")
config=
for c in "$out/.config" "$src/.config" "$real/.config" "${real%-common}"-*/.config; do
  [ -r "$c" ] && { config=$c; break; }
done
[ -n "$config" ] || { echo "no kernel configuration under $src" >&2; exit 1; }

option_set() { grep -Eq "^$1=(y|m)$" "$config"; }

case $1 in
  test_configuration_option)
    option_set "$2" ;;
  guess_module_signing_hash)
    hash=$(sed -n 's/^CONFIG_MODULE_SIG_HASH="\(.*\)"$/\1/p' "$config")
    [ -n "$hash" ] && printf '%s\n' "$hash" ;;
  vgpu_kvm_sanity_check)
    [ "$VGPU_ENABLE" = 1 ] && option_set CONFIG_KVM && option_set CONFIG_VFIO_MDEV ;;
  *)
    echo "unknown test $1" >&2
    exit 1 ;;
esac
