#pragma once
// The service kind (kind 2) before its test exists: hosts of this kind load, show,
// expand and save as they always did, but nothing tests them.
class TTestKinds;

void RegisterReservedKinds(TTestKinds& kinds);
