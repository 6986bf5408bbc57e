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
int Initiate(HWND hwnd);
HRESULT InitiateD3D(HWND hwnd);
HRESULT InitiateRenderer(HWND hwnd);
HRESULT InitiateObjects(HWND hwnd);
void Terminate();
