// glimmerwing-icon: writes one image of the program's .ico file as a PNG, for
// the desktop's icon theme.
//
//   glimmerwing-icon ICO SIZE PNG
//
// The image of SIZE x SIZE pixels must be in the file; exit status 1 with a
// line on stderr otherwise.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/Icon.h"

// After the program's headers: GLib's TRUE and FALSE are macros.
#include <gdk-pixbuf/gdk-pixbuf.h>

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "glimmerwing-icon: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Fail("usage: glimmerwing-icon ICO SIZE PNG");
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) return Fail(std::string("cannot read ") + argv[1]);
    const std::vector<unsigned char> ico{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const int size = std::atoi(argv[2]);

    IconImage image;
    std::string error;
    if (!DecodeIcon(ico, size, image, &error)) return Fail(std::string(argv[1]) + ": " + error);
    if (image.width != size || image.height != size)
        return Fail(std::string(argv[1]) + " has no " + argv[2] + " x " + argv[2] + " image");

    // IconImage's pixels are R, G, B, A bytes in memory, rows top to bottom: what a pixbuf holds.
    std::unique_ptr<GdkPixbuf, decltype(&g_object_unref)> pixbuf(
        gdk_pixbuf_new_from_data(reinterpret_cast<const guchar*>(image.rgba.data()), GDK_COLORSPACE_RGB, TRUE, 8,
                                 image.width, image.height, image.width * 4, nullptr, nullptr),
        g_object_unref);
    GError* saveError = nullptr;
    if (!pixbuf || !gdk_pixbuf_save(pixbuf.get(), argv[3], "png", &saveError, nullptr)) {
        const std::string why = saveError ? saveError->message : "no image";
        if (saveError) g_error_free(saveError);
        return Fail(std::string("cannot write ") + argv[3] + ": " + why);
    }
    return 0;
}
