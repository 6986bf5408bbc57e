// Start-up and shutdown: the five logged stages that bring the device and the
// scene up, and the ordered release of all of it.
#pragma once

#include "gfx/D3D8Types.h"
#include "gfx/D3DXFont.h"
#include "gfx/Device.h"
#include "platform/Win32Types.h"

extern Direct3D8* g_pD3D;
extern Direct3DDevice8* g_pd3dDevice;
extern D3DPRESENT_PARAMETERS g_d3dpp;
extern D3DCAPS8 g_d3dCaps;
extern BOOL g_bInitialized;
extern DWORD g_dwScreenWidth;
extern DWORD g_dwScreenHeight;
extern D3DCOLOR g_dwClearColor;
extern float g_fAspect;
extern HFONT g_hFont;
extern D3DXFont* g_pFont;
// Full screen: where on the desktop each frame is shown (empty in a window,
// where the frame fills the client area).
extern RECT g_rcPicture;

// The rectangle a picture of `aspect` takes on a width x height desktop: the
// whole desktop when the two shapes differ by 1 % or less, else the largest
// centred rectangle of that aspect, with bars on two sides.
RECT PictureRect(LONG width, LONG height, float aspect);

// 1 on success; 0 after a failed stage (the log file has then been written).
// The stored settings are loaded and this run's command-line options
// (g_Options) laid over them; a hack (IsHackRun) takes the built-in settings
// with the frame rate off instead, and neither reads nor writes the store.
int Initiate(HWND hwnd);
HRESULT InitiateD3D(HWND hwnd);
HRESULT InitiateRenderer(HWND hwnd);
HRESULT InitiateObjects(HWND hwnd);
// Writes the loaded settings back, as they were before the command line
// changed them, and releases everything.
void Terminate();

// Height of the frame-rate font, a GDI height (0: the mapper's default). A
// hack sizes the text to its window: it sets the height before Initiate and
// again when the window's size changes; a font that exists is then remade
// (and kept as it was when the new one cannot be made).
void SetFrameRateFontHeight(int height);
