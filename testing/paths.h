// The built programs and libraries that tests start or load (the directories come from the build,
// through the target tarvik_test_paths).
#ifndef TESTING_PATHS_H_
#define TESTING_PATHS_H_

namespace tarvik_test {

constexpr char kProgram[] = TARVIK_BIN_DIR "/dralmoor";
constexpr char kSimulatorProgram[] = TARVIK_BIN_DIR "/tarvik-sim";
// The update container the program carries.
constexpr char kCarriedContainer[] = TARVIK_LIB_DIR "/libupdate_container.dll";
// The test container: a confirm interaction, packages TEST_PACKAGE_100/200/700.ZIP, R3... and
// R4... to R5E/1.
constexpr char kConfirmContainer[] = TARVIK_LIB_DIR "/libupdate_container_confirm.dll";

}  // namespace tarvik_test

#endif  // TESTING_PATHS_H_
