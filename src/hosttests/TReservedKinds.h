#pragma once
// The service (kind 2) and share (kind 3) kinds before their tests exist: hosts of
// these kinds load, show, expand and save as they always did, but nothing tests them.
class TTestKinds;

void RegisterReservedKinds(TTestKinds& kinds);
