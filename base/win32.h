#pragma once
// The one way this project includes the Windows API: lean, and without the min/max macros.

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
// Leaves out commdlg.h, whose FindText macro would rename quillmend::FindText.
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#endif
