#include "write/ExpectedFrames.h"

#include <cstring>

#include "media/FrameBuilder.h"

namespace orvana::test {

struct ExpectedFrames::Impl {
  MediaSources sources;
  std::unique_ptr<FrameBuilder> builder;
  FrameBuffer buffer;
};

ExpectedFrames::ExpectedFrames(const std::string& clip, const std::string& alpha,
                               const std::string& wipe)
    : impl_(std::make_unique<Impl>()) {
  impl_->sources.CreateSources();
  impl_->sources.ClipSource->Open(clip, 320, 180);
  if (!alpha.empty()) impl_->sources.AlphaSource->Open(alpha, 320, 180);
  if (!wipe.empty()) impl_->sources.WipeSource->Open(wipe, 320, 180);
  impl_->builder = std::make_unique<FrameBuilder>(impl_->sources);
}

ExpectedFrames::~ExpectedFrames() = default;

std::vector<std::uint8_t> ExpectedFrames::Content(int chip, int i, int framesToWrite, int wrap) {
  FramePass pass;
  pass.FramesToWrite = framesToWrite;
  pass.Wrap = wrap;
  impl_->builder->BuildFrame(impl_->buffer, chip, i, pass);
  std::vector<std::uint8_t> out(std::size_t{kFramePages} * kFrameContentSize);
  for (int m = 0; m < kFramePages; ++m)
    std::memcpy(&out[std::size_t(m) * kFrameContentSize], impl_->buffer.page(m), kFrameContentSize);
  // Hold frames are silent on every channel.
  if (i >= framesToWrite) std::memset(out.data(), 0, kFrameContentSize);
  return out;
}

}  // namespace orvana::test
