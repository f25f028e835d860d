#include "NmeaCapture.h"

#include <cstring>

namespace {

struct Counts {
  WORD gga, gsa, gsv, rmc, swv, cof;
};

Counts CountsOf(const NmeaReader& r) {
  return {r.Gga().count, r.Gsa().count, r.Gsv().count, r.Rmc().count, r.Swv().count, r.Cof().count};
}

template <size_t N>
void Text(JsonWriter& json, const char* key, const char (&member)[N]) {
  json.Key(key).FixedText(member, N);
}

void Head(JsonWriter& json, WORD count, DWORD tick) {
  json.Key("count").Int(count);
  json.Key("tick").Int(tick);
}

void WriteGga(JsonWriter& json, const GgaRecord& r) {
  Head(json, r.count, r.tick);
  json.Key("utcTime").Int(r.utcTime);
}

void WriteGsa(JsonWriter& json, const GsaRecord& r) {
  Head(json, r.count, r.tick);
  json.Key("selectionMode").Char(r.selectionMode);
  json.Key("fixMode").Char(r.fixMode);
  json.Key("usedPrn").BeginArray();
  for (BYTE prn : r.usedPrn) json.Int(prn);
  json.EndArray();
  Text(json, "pdop", r.pdop);
  Text(json, "hdop", r.hdop);
  Text(json, "vdop", r.vdop);
}

void WriteGsv(JsonWriter& json, const GsvRecord& r) {
  Head(json, r.count, r.tick);
  json.Key("inView").Int(r.inView);
  json.Key("channels").BeginArray();
  for (const SatelliteRow& row : r.channels) {
    json.BeginObject();
    json.Key("prn").Int(row.prn);
    json.Key("elevation").Int(row.elevation);
    json.Key("azimuth").Int(row.azimuth);
    json.Key("snr").Int(row.snr);
    json.EndObject();
  }
  json.EndArray();
}

void WriteRmc(JsonWriter& json, const RmcRecord& r) {
  Head(json, r.count, r.tick);
  Text(json, "utcTime", r.utcTime);
  json.Key("status").Char(r.status);
  Text(json, "latitude", r.latitude);
  json.Key("latHemisphere").Char(r.latHemisphere);
  Text(json, "longitude", r.longitude);
  json.Key("lonHemisphere").Char(r.lonHemisphere);
  Text(json, "speed", r.speed);
  Text(json, "course", r.course);
  Text(json, "date", r.date);
  Text(json, "magVariation", r.magVariation);
  json.Key("magVariationDir").Char(r.magVariationDir);
}

void WriteSwv(JsonWriter& json, const SwvRecord& r) {
  Head(json, r.count, r.tick);
  json.Key("number").Int(r.number);
  Text(json, "version", r.version);
}

void WriteCof(JsonWriter& json, const CofRecord& r) {
  Head(json, r.count, r.tick);
  json.Key("value").Int(r.value);
}

}  // namespace

NmeaCapture::NmeaCapture(std::ostream& out) : out_(out), reader_(nullptr) {}

void NmeaCapture::OnByte(uint8_t value) {
  NmeaReader::OnByte(value, &reader_);
  while (reader_.HasSentence()) {
    TakeSentence();
    WriteLine();
  }
}

size_t NmeaCapture::FeedUntilLine(const uint8_t* data, size_t size) {
  // The reader takes at most a DWORD's worth at a time.
  const DWORD piece = size < 0x40000000 ? static_cast<DWORD>(size) : 0x40000000;
  const size_t fed = reader_.OnBytes(data, piece);
  if (reader_.HasSentence()) TakeSentence();
  return fed;
}

void NmeaCapture::WriteLine() {
  out_.write(line_.Line().data(), static_cast<std::streamsize>(line_.Size()));
  lineReady_ = false;
}

std::string_view NmeaCapture::SentenceId(const char* sentence, size_t length) {
  const void* dollar = std::memchr(sentence, '$', length);
  if (dollar == nullptr) return std::string_view();
  size_t i = static_cast<size_t>(static_cast<const char*>(dollar) - sentence) + 1;
  const size_t start = i;
  while (i < length && sentence[i] != ',' && sentence[i] != '*' && sentence[i] != '\r' &&
         sentence[i] != '\n') {
    ++i;
  }
  return std::string_view(sentence + start, i - start);
}

void NmeaCapture::TakeSentence() {
  char buffer[NmeaReader::kSentenceBufferSize];
  WORD length = 0;
  const bool ok = reader_.ReadSentence(buffer, length);

  JsonWriter& json = line_;
  json.Clear();
  json.BeginObject();
  json.Key("type").String("nmea");
  if (!ok) {
    const bool tooLong = length >= NmeaReader::kMaxSentence;
    (tooLong ? rejectedLength_ : rejectedChecksum_)++;
    json.Key("rejected").String(tooLong ? "length" : "checksum");
    json.Key("length").Int(length);
  } else {
    ++accepted_;
    json.Key("id").String(SentenceId(buffer, length));
    const Counts before = CountsOf(reader_);
    reader_.DecodeSentence(buffer);
    const Counts after = CountsOf(reader_);
    json.Key("record");
    const char* name = nullptr;
    if (after.gga != before.gga) {
      name = "GgaRecord";
    } else if (after.gsa != before.gsa) {
      name = "GsaRecord";
    } else if (after.gsv != before.gsv) {
      name = "GsvRecord";
    } else if (after.rmc != before.rmc) {
      name = "RmcRecord";
    } else if (after.swv != before.swv) {
      name = "SwvRecord";
    } else if (after.cof != before.cof) {
      name = "CofRecord";
    }
    if (name == nullptr) {
      json.Null();  // accepted, but no decoder takes this id
    } else {
      json.String(name).Key("fields").BeginObject();
      if (after.gga != before.gga) {
        WriteGga(json, reader_.Gga());
      } else if (after.gsa != before.gsa) {
        WriteGsa(json, reader_.Gsa());
      } else if (after.gsv != before.gsv) {
        WriteGsv(json, reader_.Gsv());
      } else if (after.rmc != before.rmc) {
        WriteRmc(json, reader_.Rmc());
      } else if (after.swv != before.swv) {
        WriteSwv(json, reader_.Swv());
      } else {
        WriteCof(json, reader_.Cof());
      }
      json.EndObject();
    }
  }
  json.EndObject();
  json.EndLine();
  lineReady_ = true;
}

void NmeaCapture::AddSummary(JsonWriter& json) const {
  json.Key("accepted").Int(static_cast<int64_t>(accepted_));
  json.Key("rejectedLength").Int(static_cast<int64_t>(rejectedLength_));
  json.Key("rejectedChecksum").Int(static_cast<int64_t>(rejectedChecksum_));
}
