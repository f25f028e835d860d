// The handheld's OEM layer behind KernelIoControl: answers the sleeve
// requests from the connector model, records every request with its time,
// and carries out insertion and removal (the connector, the identity
// publisher and the sleeve notification).
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "SleeveConnector.h"
#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

class OemLayer {
 public:
  static constexpr DWORD kSleevePresence = 0x010103E8;
  static constexpr DWORD kSleeveControl = 0x0101010D;
  static constexpr size_t kKeptRequests = 4096;

  struct Request {
    DWORD tick;
    DWORD code;
    bool hasWord;
    DWORD word;
    BOOL result;
  };

  static OemLayer& Instance();
  OemLayer() = default;

  // One request. Returns its result; a failure also stores its reason in
  // *status (ERROR_NOT_SUPPORTED for an unknown code, ERROR_INVALID_PARAMETER
  // for buffers the code cannot use).
  BOOL IoControl(DWORD code, const void* in, DWORD inBytes, void* out, DWORD outBytes,
                 DWORD* returned, Status* status);

  void Insert(DWORD sleeveId);
  void Remove();
  SleeveConnector::Lines State() const { return connector_.State(); }

  std::vector<Request> Requests() const;
  size_t RequestCount() const;
  void ClearRequests();

 private:
  void Record(const Request& request);

  SleeveConnector connector_;
  mutable std::mutex logMutex_;
  std::deque<Request> log_;  // the latest kKeptRequests
  size_t total_ = 0;
};

}  // namespace handheld::detail
