# Cross-built with qemu-user as the emulator, the tests run under it, but the
# programs they start (vornisk, vornisk-capture, vornisk-datagen) would be
# handed to the kernel, which cannot run arm64 code without a binfmt_misc
# registration. The folder emulated-bin holds, for each, a script that starts
# it under the emulator, beside links to the generated data; the cross test
# preset points VORNISK_BIN there.
# The scripts are Perl, not sh: sh complains on standard error when started in
# a deleted folder, which one bad-input test does on purpose; and they name the
# emulator by its full path, since some tests run programs with a bare PATH.
find_program(VORNISK_EMULATOR_PATH ${CMAKE_CROSSCOMPILING_EMULATOR} REQUIRED)
set(emulated_bin ${CMAKE_BINARY_DIR}/emulated-bin)
file(MAKE_DIRECTORY ${emulated_bin})
foreach(program vornisk vornisk-capture vornisk-datagen)
  file(CONFIGURE OUTPUT ${emulated_bin}/${program} @ONLY CONTENT "#!/usr/bin/perl
exec {'@VORNISK_EMULATOR_PATH@'} '@VORNISK_EMULATOR_PATH@', '-0', $0,
  '@CMAKE_BINARY_DIR@/bin/${program}', @ARGV or die \"$0: cannot start the emulator: $!\\n\";
")
  file(CHMOD ${emulated_bin}/${program}
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
foreach(data title._vq title2._vq music._vq)
  file(CREATE_LINK ${CMAKE_BINARY_DIR}/bin/${data} ${emulated_bin}/${data} SYMBOLIC)
endforeach()
