// The publisher's public key compiled into this executable (base64 of 32 bytes), or "" for a
// build without one, which accepts unsigned manifests. Defined by a source that the build
// generates for each launcher executable.
#pragma once

const char* CompiledReleasePublicKey();
// The launcher's build number (LAUNCHER_BUILD), from the same generated source.
int CompiledLauncherBuild();
