// Service mode: installing, removing or running the interpreter as a system service, requested by
// the parameters APL_ServiceInstall, APL_ServiceUninstall and APL_ServiceRun.
#pragma once
#include <string>
#include <string_view>

namespace vantor {

enum class ServiceAction { Install, Uninstall, Run };

// Carries out a service request for the service `name` and returns the message that reports it.
// This platform has no service manager, so every request is refused.
std::string RequestService(ServiceAction action, std::string_view name);

}  // namespace vantor
