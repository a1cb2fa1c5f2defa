// Service mode on this platform: there is no service control manager to talk to, so a request is
// answered with the failure report the service code uses everywhere ("Service %s %s failed: ...").
#include "base/platform/service.h"

namespace vantor {

std::string RequestService(ServiceAction action, std::string_view name) {
  const char* actionWord = action == ServiceAction::Install     ? "installation"
                           : action == ServiceAction::Uninstall ? "removal"
                                                                : "execution";
  return "Service " + std::string(name) + " " + actionWord +
         " failed: services are not supported on this platform";
}

}  // namespace vantor
