/* Preloaded into any OpenGL program on X (LD_PRELOAD), it writes the wall
 * clock (CLOCK_REALTIME, seconds) to the file named by FIRST_FRAME_FILE when
 * the program first hands the X server a picture of at least 64 x 64 pixels:
 * the first presented frame. Mesa's software drivers present that way, GLX
 * through XShmPutImage or XPutImage, EGL through xcb_put_image; smaller
 * images (cursors, icons) are not frames.
 *
 * No X headers: the calls are forwarded with their arguments as declared
 * here, which is all the ABI asks for. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef struct {
    unsigned int sequence;
} cookie;

static void first_frame(unsigned width, unsigned height) {
    static int seen;
    if (seen || width < 64 || height < 64) return;
    seen = 1;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const char* path = getenv("FIRST_FRAME_FILE");
    if (!path) return;
    FILE* out = fopen(path, "w");
    if (!out) return;
    fprintf(out, "%ld.%06ld\n", (long)now.tv_sec, now.tv_nsec / 1000);
    fclose(out);
}

int XPutImage(void* display, unsigned long drawable, void* gc, void* image, int srcX, int srcY, int dstX, int dstY,
              unsigned width, unsigned height) {
    static int (*next)(void*, unsigned long, void*, void*, int, int, int, int, unsigned, unsigned);
    if (!next) next = (int (*)(void*, unsigned long, void*, void*, int, int, int, int, unsigned, unsigned))dlsym(RTLD_NEXT, "XPutImage");
    const int result = next(display, drawable, gc, image, srcX, srcY, dstX, dstY, width, height);
    first_frame(width, height);
    return result;
}

int XShmPutImage(void* display, unsigned long drawable, void* gc, void* image, int srcX, int srcY, int dstX, int dstY,
                 unsigned width, unsigned height, int sendEvent) {
    static int (*next)(void*, unsigned long, void*, void*, int, int, int, int, unsigned, unsigned, int);
    if (!next)
        next = (int (*)(void*, unsigned long, void*, void*, int, int, int, int, unsigned, unsigned, int))dlsym(RTLD_NEXT, "XShmPutImage");
    const int result = next(display, drawable, gc, image, srcX, srcY, dstX, dstY, width, height, sendEvent);
    first_frame(width, height);
    return result;
}

/* EGL's software path sends tall pictures in bands of rows: the width tells
 * a frame from a cursor. */
cookie xcb_put_image(void* connection, uint8_t format, uint32_t drawable, uint32_t gc, uint16_t width, uint16_t height,
                     int16_t dstX, int16_t dstY, uint8_t leftPad, uint8_t depth, uint32_t length, const uint8_t* data) {
    static cookie (*next)(void*, uint8_t, uint32_t, uint32_t, uint16_t, uint16_t, int16_t, int16_t, uint8_t, uint8_t,
                          uint32_t, const uint8_t*);
    if (!next)
        next = (cookie (*)(void*, uint8_t, uint32_t, uint32_t, uint16_t, uint16_t, int16_t, int16_t, uint8_t, uint8_t,
                           uint32_t, const uint8_t*))dlsym(RTLD_NEXT, "xcb_put_image");
    const cookie result = next(connection, format, drawable, gc, width, height, dstX, dstY, leftPad, depth, length, data);
    first_frame(width, height < 64 ? 64 : height);
    return result;
}

cookie xcb_shm_put_image(void* connection, uint32_t drawable, uint32_t gc, uint16_t totalWidth, uint16_t totalHeight,
                         uint16_t srcX, uint16_t srcY, uint16_t width, uint16_t height, int16_t dstX, int16_t dstY,
                         uint8_t depth, uint8_t format, uint8_t sendEvent, uint32_t segment, uint32_t offset) {
    static cookie (*next)(void*, uint32_t, uint32_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, int16_t,
                          int16_t, uint8_t, uint8_t, uint8_t, uint32_t, uint32_t);
    if (!next)
        next = (cookie (*)(void*, uint32_t, uint32_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, int16_t,
                           int16_t, uint8_t, uint8_t, uint8_t, uint32_t, uint32_t))dlsym(RTLD_NEXT, "xcb_shm_put_image");
    const cookie result = next(connection, drawable, gc, totalWidth, totalHeight, srcX, srcY, width, height, dstX, dstY,
                               depth, format, sendEvent, segment, offset);
    first_frame(width, height);
    return result;
}
