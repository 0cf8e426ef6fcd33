#include "core/host.h"

namespace {
void NoKind(int) {}
void Nothing() {}
}  // namespace

HostInterface gHost = {NoKind, Nothing, Nothing, Nothing, Nothing, Nothing, Nothing};

void InstallHeadlessHost() { gHost = {NoKind, Nothing, Nothing, Nothing, Nothing, Nothing, Nothing}; }
