// The wizard's information text (control 1001), which every step of the
// flow writes: the pages, the free-space shortage, the progress of the run.
#pragma once
#include "platform/base.h"

// Formats with the wsprintfA rules into a 1024-byte buffer (longer output is
// cut, never split inside a double-byte character) and sets the result as
// the text of control 1001.
void SetInfoText(WindowHandle dialog, const char* format, ...);
