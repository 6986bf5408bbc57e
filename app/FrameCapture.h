// Frames written to files for looking at a run and for comparing runs: with
//   GLIMMERWING_CAPTURE_DIR=<folder>      where the frames go (created when missing)
//   GLIMMERWING_CAPTURE_EVERY=<n>         every n-th frame is written (default 1)
//   GLIMMERWING_CAPTURE_COUNT=<k>         after k frames written the window closes
// the saver writes frame_00001.ppm, frame_00002.ppm ... (binary PPM of the back
// buffer). Together with GLIMMERWING_FAKE_CLOCK_STEP_US the frames of a run are
// the same from run to run. Without the variables nothing happens.
#pragma once

#include "platform/Win32Types.h"

// Called by the tick before each present (it tells the device whether the
// frame is to be read) and after it.
void PrepareFrameCapture();
void CaptureFrame(HWND hwnd);
