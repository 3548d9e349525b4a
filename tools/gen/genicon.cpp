// genicon: draws the program's icon, a disc, as a Windows .ico with a 32x32
// and a 16x16 image of 16 colours (4 bits a pixel, standard palette).
//
//   genicon OUTPUT
//
// The drawing is pure arithmetic, so the same program writes the same bytes.


#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/common/tool_platform.h"

namespace {

// The 16-colour Windows palette, as blue, green, red, reserved.
const uint8_t kPalette[16][4] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},     {0, 128, 0, 0},
    {0, 128, 128, 0},   {128, 0, 0, 0},     {128, 0, 128, 0},
    {128, 128, 0, 0},   {192, 192, 192, 0}, {128, 128, 128, 0},
    {0, 0, 255, 0},     {0, 255, 0, 0},     {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0},   {255, 255, 0, 0},
    {255, 255, 255, 0}};

enum Colour : uint8_t {
  kBlack = 0,
  kGrey = 8,
  kSilver = 7,
  kWhite = 15,
  kCyan = 14,   // blue 255, green 255
  kBlue = 12,   // blue 255
  kMagenta = 13,
  kYellow = 11, // green 255, red 255
};

struct Pixel {
  uint8_t colour;
  bool transparent;
};

// The disc at size n: a grey rim, a silver surface with a rainbow sheen in
// one quarter, a white hub and a hole through the middle.
Pixel DiscPixel(int x, int y, int n) {
  double c = (n - 1) / 2.0;
  double dx = x - c, dy = y - c;
  double r = std::sqrt(dx * dx + dy * dy) / (n / 2.0);
  if (r > 1.0 || r < 0.16)
    return {kBlack, true};
  if (r > 0.9 || (r < 0.24))
    return {kGrey, false};
  if (r < 0.4)
    return {kWhite, false};
  // The upper-right wedge, about 20 to 70 degrees above the horizontal.
  if (dx > 0 && -dy > 0.37 * dx && -dy < 2.75 * dx) {
    static const uint8_t kSheen[] = {kMagenta, kBlue, kCyan, kYellow};
    int band = static_cast<int>((r - 0.4) / 0.5 * 4);
    return {kSheen[band < 0 ? 0 : band > 3 ? 3 : band], false};
  }
  return {kSilver, false};
}

void Put16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xff));
  out->push_back(static_cast<char>(v >> 8));
}

void Put32(std::string* out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

// One image: BITMAPINFOHEADER, palette, the colour bits and the mask, both
// bottom-up with rows padded to four bytes.
std::string Image(int n) {
  std::string out;
  Put32(&out, 40);
  Put32(&out, static_cast<uint32_t>(n));
  Put32(&out, static_cast<uint32_t>(2 * n));  // colour bits and mask
  Put16(&out, 1);
  Put16(&out, 4);
  Put32(&out, 0);  // BI_RGB
  int colourRow = ((n * 4 + 31) / 32) * 4;
  int maskRow = ((n + 31) / 32) * 4;
  Put32(&out, static_cast<uint32_t>((colourRow + maskRow) * n));
  Put32(&out, 0);
  Put32(&out, 0);
  Put32(&out, 16);
  Put32(&out, 0);
  for (const auto& entry : kPalette)
    out.append(reinterpret_cast<const char*>(entry), 4);
  for (int y = n - 1; y >= 0; --y) {
    std::string row(static_cast<size_t>(colourRow), '\0');
    for (int x = 0; x < n; ++x) {
      uint8_t colour = DiscPixel(x, y, n).colour;
      row[static_cast<size_t>(x / 2)] |=
          static_cast<char>(x % 2 ? colour : colour << 4);
    }
    out += row;
  }
  for (int y = n - 1; y >= 0; --y) {
    std::string row(static_cast<size_t>(maskRow), '\0');
    for (int x = 0; x < n; ++x)
      if (DiscPixel(x, y, n).transparent)
        row[static_cast<size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    out += row;
  }
  return out;
}

}  // namespace

int ToolMain(const std::vector<std::string>& args) {
  const char kUsage[] = "usage: genicon OUTPUT\n";
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage
              << "\nWrites the program's icon to OUTPUT (- for standard "
                 "output): a disc in\n16 colours, 32x32 and 16x16, the same "
                 "bytes every time.\n";
    return 0;
  }
  // An argument that looks like an option is never taken for OUTPUT's name.
  if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
    std::cerr << kUsage;
    return 2;
  }
  const int kSizes[] = {32, 16};
  std::string images[2] = {Image(kSizes[0]), Image(kSizes[1])};
  std::string ico;
  Put16(&ico, 0);
  Put16(&ico, 1);  // icon
  Put16(&ico, 2);
  uint32_t offset = 6 + 16 * 2;
  for (int i = 0; i < 2; ++i) {
    ico.push_back(static_cast<char>(kSizes[i]));
    ico.push_back(static_cast<char>(kSizes[i]));
    ico.push_back(16);  // colours
    ico.push_back(0);
    Put16(&ico, 1);  // planes
    Put16(&ico, 4);  // bits a pixel
    Put32(&ico, static_cast<uint32_t>(images[i].size()));
    Put32(&ico, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  ico += images[0] + images[1];
  return WriteOutput("genicon", args[0], ico) ? 0 : 1;
}
