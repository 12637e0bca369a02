// The thread-local data check. The linker describes a module's TLS twice: as
// the sections flagged SHF_VKM_TLS and as the PT_TLS program header. The
// module file keeps no program headers, so the two must agree before the
// segment's alignment is reduced to what the FileInfo carries: the TLS flag
// and the base-2 logarithm of the alignment.
#include <algorithm>

#include "layout/layout.h"

namespace zv {

namespace {

// The extent and largest alignment of the TLS sections.
struct TlsExtent {
  uint32_t lo = 0xFFFFFFFF;
  uint64_t hi = 0;
  uint32_t align = 0;
};

TlsExtent tlsSections(const ElfImage& img) {
  TlsExtent e;
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (h.sh_size == 0 || !(h.sh_flags & SHF_VKM_TLS)) continue;
    e.lo = std::min(e.lo, h.sh_addr);
    e.hi = std::max(e.hi, uint64_t(h.sh_addr) + h.sh_size);
    e.align = std::max(e.align, h.sh_addralign);
  }
  return e;
}

}  // namespace

Status checkTlsSegment(Context& ctx) {
  ctx.lay.tlsPresent = false;
  ctx.lay.tlsAlignShift = 0;
  const Elf32_Phdr* tls = nullptr;
  for (const Elf32_Phdr& p : ctx.input.ph) {
    if (p.p_type == PT_TLS) {
      tls = &p;
      break;
    }
  }
  if (!tls) return {};

  TlsExtent e = tlsSections(ctx.input);
  auto memsz = static_cast<uint32_t>(e.hi - e.lo);  // the size as a 32-bit difference
  if (tls->p_vaddr != e.lo || tls->p_memsz != memsz || tls->p_align != e.align) {
    say(ctx, "***Error: TLS Program Header does not match TLS sections.\n");
    return Status::failed();
  }
  if (e.align == 0) {
    ctx.lay.tlsPresent = true;
    return {};
  }
  for (uint16_t k = 0; k < 32; ++k) {
    if ((uint32_t(1) << k) == e.align) {
      ctx.lay.tlsAlignShift = k;
      ctx.lay.tlsPresent = true;
      return {};
    }
  }
  say(ctx, "***Error: TLS Program Header alignment is not a power of two.\n");
  return Status::failed();
}

}  // namespace zv
