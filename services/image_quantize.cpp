// Median cut: the colour reduction of the GIF encoder.
//
// The distinct colours, with how many pixels use each, start in one box of
// the RGB cube. While there are fewer boxes than palette entries, the box
// whose widest channel spans the most is cut across that channel where half
// of its pixels lie on each side. Each box gives one palette entry, the
// average of its colours weighted by their pixels, and every colour maps to
// the entry of its box. Ties are broken by position, so the result depends
// on the pixels alone.
#include <algorithm>

#include "services/image_codecs.hpp"

namespace zuv::image_codecs {

namespace {

struct Colour {
    uint32_t rgb;
    uint64_t count;
};

uint32_t channel(uint32_t rgb, int c) { return (rgb >> (16 - 8 * c)) & 0xFF; }

struct Box {
    size_t begin, end;  // a range of the colours
    uint64_t pixels = 0;
    uint32_t low[3] = {255, 255, 255}, high[3] = {0, 0, 0};

    Box(const std::vector<Colour>& colours, size_t b, size_t e) : begin(b), end(e) {
        for (size_t i = b; i < e; i++) {
            pixels += colours[i].count;
            for (int c = 0; c < 3; c++) {
                low[c] = std::min(low[c], channel(colours[i].rgb, c));
                high[c] = std::max(high[c], channel(colours[i].rgb, c));
            }
        }
    }
    int widest() const {
        int best = 0;
        for (int c = 1; c < 3; c++)
            if (high[c] - low[c] > high[best] - low[best]) best = c;
        return best;
    }
    uint32_t span() const { return high[widest()] - low[widest()]; }
};

}  // namespace

Palette median_cut(const uint32_t* pixels, int64_t count, int32_t wanted, uint32_t min_alpha) {
    Palette out;
    out.indexes.assign(size_t(std::max<int64_t>(count, 0)), 0);
    std::vector<uint32_t> used;
    for (int64_t i = 0; i < count; i++)
        if (alpha(pixels[i]) >= min_alpha) used.push_back(pixels[i] & 0xFFFFFF);
    std::sort(used.begin(), used.end());
    std::vector<Colour> colours;
    for (uint32_t rgb : used) {
        if (!colours.empty() && colours.back().rgb == rgb) colours.back().count++;
        else colours.push_back(Colour{rgb, 1});
    }
    used = std::vector<uint32_t>();
    if (colours.empty()) {
        out.colours.push_back(0);
        return out;
    }

    std::vector<Box> boxes{Box(colours, 0, colours.size())};
    while (boxes.size() < size_t(std::clamp(wanted, 1, 256))) {
        size_t cut = boxes.size();
        for (size_t i = 0; i < boxes.size(); i++) {
            if (boxes[i].end - boxes[i].begin < 2) continue;
            if (cut == boxes.size() || boxes[i].span() > boxes[cut].span()) cut = i;
        }
        if (cut == boxes.size()) break;  // every box holds one colour
        const Box box = boxes[cut];
        const int c = box.widest();
        std::sort(colours.begin() + ptrdiff_t(box.begin), colours.begin() + ptrdiff_t(box.end),
                  [c](const Colour& a, const Colour& b) {
                      uint32_t x = channel(a.rgb, c), y = channel(b.rgb, c);
                      return x != y ? x < y : a.rgb < b.rgb;
                  });
        // The first colour at which half of the box's pixels are reached
        // ends the lower half; each half keeps at least one colour.
        uint64_t seen = 0;
        size_t split = box.begin + 1;
        for (size_t i = box.begin; i < box.end; i++) {
            seen += colours[i].count;
            if (2 * seen >= box.pixels) {
                split = i + 1;
                break;
            }
        }
        split = std::clamp(split, box.begin + 1, box.end - 1);
        boxes[cut] = Box(colours, box.begin, split);
        boxes.insert(boxes.begin() + ptrdiff_t(cut) + 1, Box(colours, split, box.end));
    }

    // The entries, and each colour's entry by binary search on its value.
    std::vector<std::pair<uint32_t, uint8_t>> entry_of;
    entry_of.reserve(colours.size());
    for (size_t b = 0; b < boxes.size(); b++) {
        uint64_t sum[3] = {0, 0, 0};
        for (size_t i = boxes[b].begin; i < boxes[b].end; i++) {
            for (int c = 0; c < 3; c++) sum[c] += uint64_t(channel(colours[i].rgb, c)) * colours[i].count;
            entry_of.emplace_back(colours[i].rgb, uint8_t(b));
        }
        const uint64_t n = boxes[b].pixels;
        out.colours.push_back(pixel(uint32_t((sum[0] + n / 2) / n), uint32_t((sum[1] + n / 2) / n),
                                    uint32_t((sum[2] + n / 2) / n), 0));
    }
    std::sort(entry_of.begin(), entry_of.end());
    for (int64_t i = 0; i < count; i++) {
        if (alpha(pixels[i]) < min_alpha) continue;
        auto at = std::lower_bound(entry_of.begin(), entry_of.end(), std::make_pair(pixels[i] & 0xFFFFFF, uint8_t(0)));
        out.indexes[size_t(i)] = at->second;
    }
    return out;
}

}  // namespace zuv::image_codecs
