#pragma once

// A plain decoder of stored frames, written from the frame format alone, for checking the full
// export: per-sample loops, its own colour matrix inversion, nothing shared with the media layer.

#include <QImage>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvana::test::oracle {

// One chip's frame: page m (0 the lead page) with at least its 7220 content bytes.
using Pages = std::vector<std::vector<std::uint8_t>>;

inline const std::uint8_t* LineData(const Pages& frame, int line) {
  return frame[std::size_t(1 + line / 15)].data() + 481 * (line % 15) + 1;
}
inline int RowOf(int line) {
  return line < 540 ? 2 * line : 2 * (line - 540) + 1;
}

// One step of the 4-bit code: bit 0 the direction (1 up), bits 1..3 the step; the value wraps.
inline int Next(int value, int code) {
  static constexpr int kSteps[8] = {0, 1, 4, 12, 24, 48, 88, 127};
  const int step = kSteps[(code >> 1) & 7];
  return (code & 1) ? (value + step) % 256 : (value - step + 256) % 256;
}

// The 960 samples of a luma or key line, low nibble first.
inline std::vector<int> Samples(const std::uint8_t* data, int start) {
  std::vector<int> out;
  int v = start;
  for (int j = 0; j < 480; ++j) {
    v = Next(v, data[j] & 0x0F);
    out.push_back(v);
    v = Next(v, data[j] >> 4);
    out.push_back(v);
  }
  return out;
}

// The encoder's colour matrix on (R, G, B) giving (Y, Cr - 128, Cb - 128), inverted by cofactors.
inline std::array<std::array<double, 3>, 3> InverseMatrix() {
  const double m[3][3] = {{77 / 256.0, 150 / 256.0, 29 / 256.0},
                          {131 / 256.0, -110 / 256.0, -21 / 256.0},
                          {-44 / 256.0, -87 / 256.0, 131 / 256.0}};
  auto cof = [&](int r, int c) {
    const int r0 = (r + 1) % 3, r1 = (r + 2) % 3, c0 = (c + 1) % 3, c1 = (c + 2) % 3;
    return m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0];
  };
  const double det = m[0][0] * cof(0, 0) + m[0][1] * cof(0, 1) + m[0][2] * cof(0, 2);
  std::array<std::array<double, 3>, 3> inv{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) inv[std::size_t(r)][std::size_t(c)] = cof(c, r) / det;
  return inv;
}

inline std::uint32_t Pixel(int y, int cr, int cb) {
  static const auto inv = InverseMatrix();
  std::uint32_t out = 0xFF000000u;
  for (int k = 0; k < 3; ++k) {
    const auto& row = inv[std::size_t(k)];
    const double v = row[0] * y + row[1] * (cr - 128) + row[2] * (cb - 128);
    const long c = std::lround(std::floor(v + 0.5));
    out |= std::uint32_t(c < 0 ? 0 : c > 255 ? 255 : c) << (16 - 8 * k);
  }
  return out;
}

// A clip or super wipe frame: luma chip and colour chip to 1920 x 1080.
inline QImage Colour(const Pages& luma, const Pages& colour) {
  QImage out(1920, 1080, QImage::Format_RGB32);
  for (int line = 0; line < 1080; ++line) {
    const std::vector<int> y = Samples(LineData(luma, line), 16);
    const std::uint8_t* c = LineData(colour, line);
    int cr = 128, cb = 128;
    std::vector<int> crs, cbs;
    for (int j = 0; j < 480; ++j) {
      cr = Next(cr, c[j] >> 4);
      cb = Next(cb, c[j] & 0x0F);
      crs.push_back(cr);
      cbs.push_back(cb);
    }
    auto* px = reinterpret_cast<std::uint32_t*>(out.scanLine(RowOf(line)));
    for (int x = 0; x < 1920; ++x)
      px[x] = Pixel(y[std::size_t(x / 2)], crs[std::size_t(x / 4)], cbs[std::size_t(x / 4)]);
  }
  return out;
}

// A key or wipe chip's frame (coded from 0) as grey.
inline QImage Key(const Pages& key) {
  QImage out(1920, 1080, QImage::Format_Grayscale8);
  for (int line = 0; line < 1080; ++line) {
    const std::vector<int> k = Samples(LineData(key, line), 0);
    std::uint8_t* px = out.scanLine(RowOf(line));
    for (int x = 0; x < 1920; ++x) px[x] = std::uint8_t(k[std::size_t(x / 2)]);
  }
  return out;
}

// A logo frame: raw luma of pixels 0..479, Cr and Cb of pixel pairs, the raw key.
inline QImage LogoColour(const Pages& luma, const Pages& colour) {
  QImage out(480, 1080, QImage::Format_RGB32);
  for (int line = 0; line < 1080; ++line) {
    const std::uint8_t* y = LineData(luma, line);
    const std::uint8_t* c = LineData(colour, line);
    auto* px = reinterpret_cast<std::uint32_t*>(out.scanLine(RowOf(line)));
    for (int x = 0; x < 480; ++x) px[x] = Pixel(y[x], c[x / 2 * 2], c[x / 2 * 2 + 1]);
  }
  return out;
}
inline QImage LogoKey(const Pages& key) {
  QImage out(480, 1080, QImage::Format_Grayscale8);
  for (int line = 0; line < 1080; ++line)
    for (int x = 0; x < 480; ++x) out.scanLine(RowOf(line))[x] = LineData(key, line)[x];
  return out;
}

// Sample s of a lead page (16-bit little-endian).
inline std::int16_t LeadSample(const Pages& frame, int s) {
  const std::uint8_t* p = frame[0].data() + 2 * s;
  return std::int16_t(std::uint16_t(p[0] | (p[1] << 8)));
}

// The first pixel where two pictures differ, as text; empty when they are equal. A grey picture
// equals a colour one whose red, green and blue all carry its level.
inline std::string FirstDifference(const QImage& got, const QImage& want) {
  if (got.size() != want.size()) return "size differs";
  const bool grey = want.format() == QImage::Format_Grayscale8;
  const bool greyGot = got.format() == QImage::Format_Grayscale8;
  for (int y = 0; y < want.height(); ++y) {
    for (int x = 0; x < want.width(); ++x) {
      std::uint32_t a = greyGot ? got.constScanLine(y)[x] : got.pixel(x, y) | 0xFF000000u;
      std::uint32_t b = grey ? want.constScanLine(y)[x] : want.pixel(x, y) | 0xFF000000u;
      if (grey != greyGot) {
        if (greyGot) a = qRgb(int(a), int(a), int(a));
        if (grey) b = qRgb(int(b), int(b), int(b));
      }
      if (a != b) {
        char text[96];
        std::snprintf(text, sizeof text, "(%d, %d): got %08x, want %08x", x, y, a, b);
        return text;
      }
    }
  }
  return {};
}

// Peak signal to noise ratio (dB) of the first `width` columns of two RGB pictures.
inline double Psnr(const QImage& got, const QImage& want, int width) {
  double sum = 0;
  long n = 0;
  for (int y = 0; y < want.height(); ++y)
    for (int x = 0; x < width; ++x) {
      const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
      const int d[3] = {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)};
      for (int v : d) sum += double(v) * v;
      n += 3;
    }
  if (sum == 0) return INFINITY;
  return 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

}  // namespace orvana::test::oracle
