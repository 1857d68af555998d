// Any bytes as a side picture, through the loader's path entry point.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "loader/side_loader.h"
#include "render/side_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/rovanta-fuzz-side-" + std::to_string(getpid()) + ".jpg";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    Side& side = sideTable[0];
    if (loadSide(side, path.c_str()) && isPictureSide(side)) {
        // Every texel of what loaded must be readable.
        if (side.pixels == nullptr || side.rowsFilled > side.height) __builtin_trap();
        for (std::int32_t y = 0; y < side.height; y += 7)
            for (std::int32_t x = 0; x < side.width; x += 7) {
                const Texel t = sideTexel(side, x, y);
                if ((t.red | t.green | t.blue) & ~0xFF) __builtin_trap();
            }
    }
    freeSidePixels();
    std::remove(path.c_str());
    return 0;
}
