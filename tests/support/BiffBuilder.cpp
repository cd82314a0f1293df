// Workbook stream builder for tests.
#include "BiffBuilder.h"

#include <cstring>
#include <stdexcept>

namespace scv::test {

TBodyWriter& TBodyWriter::U8(std::uint8_t v) {
  bytes_.push_back(v);
  return *this;
}
TBodyWriter& TBodyWriter::U16(std::uint16_t v) {
  bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
  bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  return *this;
}
TBodyWriter& TBodyWriter::U32(std::uint32_t v) {
  U16(static_cast<std::uint16_t>(v & 0xFFFF));
  return U16(static_cast<std::uint16_t>(v >> 16));
}
TBodyWriter& TBodyWriter::F64(double v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  U32(static_cast<std::uint32_t>(bits));
  return U32(static_cast<std::uint32_t>(bits >> 32));
}
TBodyWriter& TBodyWriter::Raw(const TBytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}
TBodyWriter& TBodyWriter::Latin1(const std::string& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}
TBodyWriter& TBodyWriter::Utf16(const std::u16string& text) {
  for (const char16_t c : text) {
    U16(c);
  }
  return *this;
}

TBiffBuilder& TBiffBuilder::RawRecord(std::uint16_t id, std::uint16_t length, const TBytes& body) {
  TBodyWriter w;
  w.U16(id).U16(length).Raw(body);
  Bytes(w);
  return *this;
}

TBiffBuilder& TBiffBuilder::Record(std::uint16_t id, const TBytes& body) {
  if (body.size() > 0xFFFF) {
    throw std::length_error("record body over 65535 bytes");
  }
  return RawRecord(id, static_cast<std::uint16_t>(body.size()), body);
}

TBiffBuilder& TBiffBuilder::RecordWithContinue(std::uint16_t id, const TBytes& body,
                                               std::size_t maxBody) {
  std::size_t pos = 0;
  std::uint16_t recId = id;
  do {
    const std::size_t n = body.size() - pos < maxBody ? body.size() - pos : maxBody;
    Record(recId, TBytes(body.begin() + static_cast<std::ptrdiff_t>(pos),
                         body.begin() + static_cast<std::ptrdiff_t>(pos + n)));
    pos += n;
    recId = 0x003C;
  } while (pos < body.size());
  return *this;
}

TBiffBuilder& TBiffBuilder::Sst(const std::vector<TSstString>& strings, std::size_t maxBody,
                                bool forceSplitWidth, std::uint32_t cstTotal) {
  std::uint16_t recId = 0x00FC;
  TBytes cur;
  auto flush = [&] {
    Record(recId, cur);
    cur.clear();
    recId = 0x003C;
  };
  auto room = [&] { return maxBody - cur.size(); };
  auto put16 = [&](std::uint16_t v) {
    cur.push_back(static_cast<std::uint8_t>(v & 0xFF));
    cur.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto put32 = [&](std::uint32_t v) {
    put16(static_cast<std::uint16_t>(v & 0xFFFF));
    put16(static_cast<std::uint16_t>(v >> 16));
  };
  put32(cstTotal != 0 ? cstTotal : static_cast<std::uint32_t>(strings.size()));
  put32(static_cast<std::uint32_t>(strings.size()));
  for (const TSstString& s : strings) {
    unsigned width = s.highByte ? 2 : 1;
    const std::size_t headerSize = 3 + (s.runs != 0 ? 2 : 0) + (s.extBytes != 0 ? 4 : 0);
    // The header and at least one character stay together in one record.
    if (room() < headerSize + (s.text.empty() ? 0 : width)) {
      flush();
    }
    put16(static_cast<std::uint16_t>(s.text.size()));
    cur.push_back(static_cast<std::uint8_t>((s.highByte ? 0x01 : 0) | (s.extBytes ? 0x04 : 0) |
                                            (s.runs ? 0x08 : 0)));
    if (s.runs != 0) {
      put16(s.runs);
    }
    if (s.extBytes != 0) {
      put32(s.extBytes);
    }
    std::size_t i = 0;
    while (i < s.text.size()) {
      const std::size_t fit = room() / width;
      const std::size_t left = s.text.size() - i;
      const std::size_t n = fit < left ? fit : left;
      for (std::size_t k = 0; k < n; ++k, ++i) {
        if (width == 2) {
          put16(s.text[i]);
        } else {
          cur.push_back(static_cast<std::uint8_t>(s.text[i]));
        }
      }
      if (i == s.text.size()) {
        break;
      }
      flush();
      if (forceSplitWidth) {
        bool narrowFits = true;
        for (std::size_t k = i; k < s.text.size(); ++k) {
          narrowFits = narrowFits && s.text[k] < 0x100;
        }
        width = width == 1 ? 2 : (narrowFits ? 1 : 2);
      }
      cur.push_back(width == 2 ? 1 : 0);
    }
    for (std::uint32_t r = 0; r < s.runs; ++r) {
      if (room() < 4) {
        flush();
      }
      put16(static_cast<std::uint16_t>(r));
      put16(1);
    }
    for (std::uint32_t b = 0; b < s.extBytes; ++b) {
      if (room() == 0) {
        flush();
      }
      cur.push_back(0xEE);
    }
  }
  flush();
  return *this;
}

TBiffBuilder& TBiffBuilder::Bytes(const TBytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

void TBiffBuilder::Patch32(std::size_t offset, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) {
    bytes_.at(offset + static_cast<std::size_t>(k)) = static_cast<std::uint8_t>(value >> (8 * k));
  }
}

TBytes BofBody(std::uint16_t dt, std::uint16_t vers) {
  TBodyWriter w;
  w.U16(vers).U16(dt).U16(0x2775).U16(0x07CD).U32(0x000100C1).U8(6).U16(0).U8(0);
  return w;
}

TBytes BoundSheet8Body(std::uint32_t lbPlyPos, std::uint8_t dt, const std::u16string& name,
                       bool highByte) {
  TBodyWriter w;
  w.U32(lbPlyPos).U8(0).U8(dt).U8(static_cast<std::uint8_t>(name.size())).U8(highByte ? 1 : 0);
  for (const char16_t c : name) {
    if (highByte) {
      w.U16(c);
    } else {
      w.U8(static_cast<std::uint8_t>(c));
    }
  }
  return w;
}

TBytes XfBody(std::uint16_t ifmt) {
  TBodyWriter w;
  w.U16(0).U16(ifmt).U16(0x0001).U16(0x0020).U16(0).U16(0).U16(0).U32(0).U16(0x20C0);
  return w;
}

TBytes FormatBody(std::uint16_t ifmt, const std::string& latin1Text) {
  TBodyWriter w;
  w.U16(ifmt).U16(static_cast<std::uint16_t>(latin1Text.size())).U8(0).Latin1(latin1Text);
  return w;
}

TBytes LabelSstBody(std::uint16_t rw, std::uint16_t col, std::uint32_t isst, std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).U32(isst);
  return w;
}

TBytes NumberBody(std::uint16_t rw, std::uint16_t col, double num, std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).F64(num);
  return w;
}

TBytes RkBody(std::uint16_t rw, std::uint16_t col, std::uint32_t rk, std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).U32(rk);
  return w;
}

TBytes MulRkBody(std::uint16_t rw, std::uint16_t colFirst, const std::vector<std::uint32_t>& rks,
                 std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(colFirst);
  for (const std::uint32_t rk : rks) {
    w.U16(ixfe).U32(rk);
  }
  w.U16(static_cast<std::uint16_t>(colFirst + rks.size() - 1));
  return w;
}

TBytes BlankBody(std::uint16_t rw, std::uint16_t col, std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe);
  return w;
}

TBytes MulBlankBody(std::uint16_t rw, std::uint16_t colFirst, std::size_t count,
                    std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(colFirst);
  for (std::size_t i = 0; i < count; ++i) {
    w.U16(ixfe);
  }
  w.U16(static_cast<std::uint16_t>(colFirst + count - 1));
  return w;
}

TBytes FormulaBody(std::uint16_t rw, std::uint16_t col, const TBytes& val8, std::uint16_t grbit,
                   const TBytes& rgce, const TBytes& extra, std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).Raw(val8).U16(grbit).U32(0);
  w.U16(static_cast<std::uint16_t>(rgce.size())).Raw(rgce).Raw(extra);
  return w;
}

TBytes FormulaNumberValue(double v) {
  TBodyWriter w;
  w.F64(v);
  return w;
}

TBytes LabelBody(std::uint16_t rw, std::uint16_t col, const std::u16string& text, bool highByte,
                 std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).Raw(StringBody(text, highByte));
  return w;
}

TBytes RStringBody(std::uint16_t rw, std::uint16_t col, const std::u16string& text,
                   std::uint16_t runs, std::uint16_t ixfe) {
  TBodyWriter w;
  w.Raw(LabelBody(rw, col, text, false, ixfe)).U16(runs);
  for (std::uint16_t r = 0; r < runs; ++r) {
    w.U16(r).U16(1);
  }
  return w;
}

TBytes ByteLabelBody(std::uint16_t rw, std::uint16_t col, const std::string& bytes,
                     std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).U16(static_cast<std::uint16_t>(bytes.size())).Latin1(bytes);
  return w;
}

TBytes BoolErrBody(std::uint16_t rw, std::uint16_t col, std::uint8_t value, bool error,
                   std::uint16_t ixfe) {
  TBodyWriter w;
  w.U16(rw).U16(col).U16(ixfe).U8(value).U8(error ? 1 : 0);
  return w;
}

TBytes StringBody(const std::u16string& text, bool highByte) {
  TBodyWriter w;
  w.U16(static_cast<std::uint16_t>(text.size())).U8(highByte ? 1 : 0);
  for (const char16_t c : text) {
    if (highByte) {
      w.U16(c);
    } else {
      w.U8(static_cast<std::uint8_t>(c));
    }
  }
  return w;
}

TBytes Biff2CellHead(std::uint16_t rw, std::uint16_t col, std::uint8_t format) {
  TBodyWriter w;
  w.U16(rw).U16(col).U8(0).U8(format).U8(0);
  return w;
}

TBytes FormulaSpecialValue(std::uint8_t type, std::uint8_t value) {
  return TBytes{type, 0, value, 0, 0, 0, 0xFF, 0xFF};
}

TBytes BuildWorkbookStream(const TWorkbookPlan& plan) {
  TBiffBuilder b;
  b.Record(0x0809, BofBody(0x0005, plan.vers));
  b.Bytes(plan.globalsExtra.Stream());
  std::vector<std::size_t> patches;
  for (const TBiffSheet& sheet : plan.sheets) {
    patches.push_back(b.Position() + 4);
    if (plan.vers == 0x0500) {
      // BIFF5: an 8-bit count and 8-bit characters, no options byte.
      TBodyWriter w;
      w.U32(0).U8(0).U8(sheet.dt).U8(static_cast<std::uint8_t>(sheet.name.size()));
      for (const char16_t c : sheet.name) {
        w.U8(static_cast<std::uint8_t>(c));
      }
      b.Record(0x0085, w);
    } else {
      b.Record(0x0085, BoundSheet8Body(0, sheet.dt, sheet.name, sheet.highByteName));
    }
  }
  if (!plan.strings.empty()) {
    b.Sst(plan.strings, plan.sstMaxBody);
  }
  if (plan.globalsEof) {
    b.Record(0x000A, {});
  }
  for (std::size_t i = 0; i < plan.sheets.size(); ++i) {
    const TBiffSheet& sheet = plan.sheets[i];
    b.Patch32(patches[i], static_cast<std::uint32_t>(b.Position()));
    b.Record(0x0809, BofBody(sheet.dt == 2 ? 0x0020 : 0x0010, plan.vers));
    b.Bytes(sheet.records.Stream());
    if (sheet.eof) {
      b.Record(0x000A, {});
    }
  }
  return b.Stream();
}

std::vector<TSstString> SstStrings(const std::vector<std::u16string>& texts) {
  std::vector<TSstString> out;
  out.reserve(texts.size());
  for (const auto& t : texts) {
    out.push_back(TSstString{t, false, 0, 0});
  }
  return out;
}

TBytes Bof4Body(std::uint16_t dt) {
  TBodyWriter w;
  w.U16(0).U16(dt).U16(0);
  return w;
}

TBytes Format4Body(const std::string& bytes) {
  TBodyWriter w;
  w.U16(0).U8(static_cast<std::uint8_t>(bytes.size())).Latin1(bytes);
  return w;
}

TBytes Xf4Body(std::uint8_t ifmt) {
  TBytes body(12, 0);
  body[1] = ifmt;
  return body;
}

TBytes BuildWorkbook4Stream(const TWorkbook4Plan& plan, TWorkbook4Layout* layout) {
  TWorkbook4Layout at;
  TBiffBuilder b;
  b.Record(0x0409, Bof4Body(0x0100));
  b.Bytes(plan.globalsExtra.Stream());
  if (plan.sheetsOffset) {
    at.sheetsOffsetField = b.Position() + 4;
    b.Record(0x008E, TBodyWriter().U32(0));
  }
  if (plan.globalsEof) {
    b.Record(0x000A, {});
  }
  at.globalsEnd = b.Position();
  if (plan.sheetsOffset) {
    b.Patch32(at.sheetsOffsetField, static_cast<std::uint32_t>(at.globalsEnd));
  }
  for (const TWorkbook4Sheet& sheet : plan.sheets) {
    at.headers.push_back(b.Position());
    at.sizeFields.push_back(b.Position() + 4);
    b.Record(
        0x008F,
        TBodyWriter().U32(0).U8(static_cast<std::uint8_t>(sheet.name.size())).Latin1(sheet.name));
    at.substreams.push_back(b.Position());
    b.Record(0x0409, Bof4Body(sheet.dt));
    b.Bytes(sheet.records.Stream());
    if (sheet.eof) {
      b.Record(0x000A, {});
    }
    b.Patch32(at.sizeFields.back(),
              static_cast<std::uint32_t>(b.Position() - at.substreams.back()));
  }
  if (layout != nullptr) {
    *layout = at;
  }
  return b.Stream();
}

} // namespace scv::test
