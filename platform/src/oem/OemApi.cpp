// KernelIoControl and the host's controls of the sleeve connector.
#include "IdentityPublisher.h"
#include "OemLayer.h"
#include "handheld.h"

using handheld::detail::IdentityPublisher;
using handheld::detail::OemLayer;
using handheld::detail::Status;

BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                     LPDWORD returned) {
  Status status;
  BOOL result = OemLayer::Instance().IoControl(code, in, inBytes, out, outBytes, returned, &status);
  handheld::detail::ReportStatus(status);
  return result;
}

namespace handheld {

void InsertSleeve(DWORD sleeveId) { OemLayer::Instance().Insert(sleeveId); }

void RemoveSleeve() { OemLayer::Instance().Remove(); }

void SetIdentityPublishDelay(DWORD ms) { IdentityPublisher::Instance().SetDelay(ms); }

SleeveState GetSleeveState() {
  auto lines = OemLayer::Instance().State();
  return {lines.attached, lines.sleeveId, lines.powered, lines.interruptEnabled,
          lines.resetAsserted};
}

std::vector<OemRequest> OemRequests() {
  std::vector<OemRequest> requests;
  for (const auto& r : OemLayer::Instance().Requests())
    requests.push_back({r.tick, r.code, r.hasWord, r.word, r.result});
  return requests;
}

size_t OemRequestCount() { return OemLayer::Instance().RequestCount(); }

void ClearOemRequests() { OemLayer::Instance().ClearRequests(); }

}  // namespace handheld
