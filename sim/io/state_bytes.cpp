#include "sim/io/state_bytes.h"

#include "sim/io/run_state.h"

namespace state_bytes {

void Writer::Extended(long double value)
{
    char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &value, sizeof value);
    out_.append(bytes, kExtendedBytes);
}

void Writer::Text(std::string_view text)
{
    Number<std::uint32_t>(static_cast<std::uint32_t>(text.size()));
    out_.append(text);
}

long double Reader::Extended()
{
    long double value = 0.0L;
    std::memcpy(&value, Take(kExtendedBytes), kExtendedBytes);
    return value;
}

bool Reader::Flag()
{
    const auto value = Number<std::uint8_t>();
    if (value > 1) Fail("a flag holds " + std::to_string(value));
    return value == 1;
}

std::string Reader::Text()
{
    const auto size = Number<std::uint32_t>();
    const char* start = Take(size);
    return std::string(start, size);
}

std::uint32_t Reader::Count(std::size_t recordBytes, const char* what)
{
    const auto count = Number<std::uint32_t>();
    if (static_cast<std::uint64_t>(count) * recordBytes > in_.size() - at_)
        Fail(std::to_string(count) + " " + what + " do not fit in the file");
    return count;
}

void Reader::Fail(const std::string& why)
{
    throw RunStateError("the run state is damaged: " + why);
}

const char* Reader::Take(std::size_t size)
{
    if (size > in_.size() - at_) Fail("it ends early");
    const char* start = in_.data() + at_;
    at_ += size;
    return start;
}

void Require(bool holds, const std::string& what)
{
    if (!holds) Reader::Fail(what);
}

bool Within(std::int64_t value, std::int64_t low, std::int64_t high)
{
    return value >= low && value <= high;
}

}  // namespace state_bytes
