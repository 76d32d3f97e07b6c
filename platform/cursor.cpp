// platform/cursor.cpp
// The cursor shown and the two system cursors.

#include "platform/cursor.h"

namespace qob::platform {
namespace {

struct SystemCursor {
    uintptr_t id;
};
SystemCursor gArrow{IDC_ARROW};
SystemCursor gWait{IDC_WAIT};
HCURSOR gArrowHandle = 0;
HCURSOR gWaitHandle = 0;
HCURSOR gShown = 0;
void (*gListener)(bool wait) = nullptr;

HCURSOR Require(HCURSOR& handle, SystemCursor& cursor) {
    if (!handle) handle = NewHandle(HandleKind::Cursor, &cursor);
    return handle;
}

}  // namespace

HCURSOR LoadCursorW(uintptr_t instance, uintptr_t id) {
    if (instance != 0) return 0;
    if (id == IDC_ARROW) return Require(gArrowHandle, gArrow);
    if (id == IDC_WAIT) return Require(gWaitHandle, gWait);
    return 0;
}

HCURSOR SetCursor(HCURSOR cursor) {
    const HCURSOR previous = gShown;
    gShown = cursor;
    if (gListener && previous != cursor) gListener(IsWaitCursor(cursor));
    return previous;
}

HCURSOR GetCursor() {
    return gShown;
}

bool IsWaitCursor(HCURSOR cursor) {
    return cursor != 0 && cursor == gWaitHandle;
}

void SetCursorListener(void (*listener)(bool wait)) {
    gListener = listener;
}

}  // namespace qob::platform
