#include "BackBuffer.h"

#include "StatusDisplay.h"

HBITMAP BackBuffer::bitmap = nullptr;
HWND BackBuffer::window = nullptr;
RECT BackBuffer::clientRect = {0, 0, 0, 0};

void BackBuffer::Make(HWND mainWindow) {
  window = mainWindow;
  HDC dc = GetDC(window);
  GetClientRect(window, &clientRect);
  bitmap = CreateCompatibleBitmap(dc, clientRect.right - clientRect.left,
                                  clientRect.bottom - clientRect.top);
  ReleaseDC(window, dc);
}

void BackBuffer::RenderAndBlit(const DisplaySnapshot& snapshot) {
  HDC dc = GetDC(window);
  RECT current = {0, 0, 0, 0};
  GetClientRect(window, &current);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
  FillRect(memory, &clientRect, brush);
  DeleteObject(brush);
  StatusDisplay::PaintStatus(memory, snapshot);
  BitBlt(dc, 0, 0, current.right, current.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(window, dc);
}
