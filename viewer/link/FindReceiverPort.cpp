#include "FindReceiverPort.h"

#include "ActiveDrivers.h"

namespace {

const WCHAR kNotFound[] = TEXT("COM1:");
const WCHAR kSleeveKey[] = TEXT("Drivers\\Tessiv\\0100");
const WCHAR kMakerId[] = TEXT("DOVRIN");

// "Name" goes through a local buffer of this size before it reaches the
// caller's, so that a failed read leaves the caller's text as it was.
const DWORD kNameChars = 256;

// Copies `text` into a buffer of `bufferBytes` bytes, cut short if needed
// and always terminated when there is room for the terminator.
void PutText(LPWSTR buffer, DWORD bufferBytes, LPCWSTR text) {
  DWORD chars = bufferBytes / sizeof(WCHAR);
  if (buffer == nullptr || chars == 0) return;
  lstrcpyn(buffer, text, static_cast<int>(chars));
}

// Reads "Name" with the caller's size limit. It fits only if the text and
// its terminator fit the caller's buffer; only then is the buffer written.
bool ReadName(HKEY key, LPWSTR portText, DWORD bufferBytes) {
  if (portText == nullptr) return false;
  WCHAR name[kNameChars + 1];
  DWORD limit = bufferBytes < kNameChars * sizeof(WCHAR) ? bufferBytes : kNameChars * sizeof(WCHAR);
  if (!ActiveDrivers::ReadText(key, TEXT("Name"), name, limit)) return false;
  DWORD needed = (static_cast<DWORD>(lstrlen(name)) + 1) * sizeof(WCHAR);
  if (needed > bufferBytes) return false;
  lstrcpy(portText, name);
  return true;
}

struct PortSearch {
  LPWSTR portText;
  DWORD bufferBytes;
};

// The first sleeve driver of family 0100, or card of the receiver maker,
// whose port name fits decides.
bool TakePort(HKEY entry, LPCWSTR keyText, void* context) {
  PortSearch& search = *static_cast<PortSearch*>(context);
  if (wcsstr(keyText, kSleeveKey) != nullptr)
    return ReadName(entry, search.portText, search.bufferBytes);
  WCHAR pnpId[ActiveDrivers::kValueChars];
  if (ActiveDrivers::ReadText(entry, TEXT("PnpId"), pnpId, ActiveDrivers::kValueBytes) &&
      wcsstr(pnpId, kMakerId) != nullptr)
    return ReadName(entry, search.portText, search.bufferBytes);
  return false;
}

}  // namespace

BOOL FindReceiverPort(LPWSTR portText, DWORD bufferBytes) {
  PutText(portText, bufferBytes, kNotFound);
  PortSearch search = {portText, bufferBytes};
  return ActiveDrivers::Walk(TakePort, &search) ? TRUE : FALSE;
}
