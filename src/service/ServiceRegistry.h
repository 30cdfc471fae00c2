#pragma once
// What the service's parts share: the machine root of the registry stand-in and the
// path of the running program.
#include <memory>
#include <string>

class TQLRegistry;
class TRegistryStore;

// A registry object on HKEY_LOCAL_MACHINE of store (null: the store in the usual places).
std::unique_ptr<TQLRegistry> MachineRegistry(TRegistryStore* store);
// The running executable's full path; empty when the system will not tell.
std::string OwnProgramPath();
