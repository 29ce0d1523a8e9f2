#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

// The values of a run state file as bytes: numbers as the machine holds them
// (little-endian), extended reals as their 80 bits, flags as one byte, texts as
// their length and bytes. The layout of the records is run_state.cpp's.
namespace state_bytes {

inline constexpr std::size_t kExtendedBytes = 10;

class Writer {
public:
    template <typename T>
    void Number(T value)
    {
        static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, long double>);
        char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        out_.append(bytes, sizeof(T));
    }
    void Extended(long double value);
    void Flag(bool value) { Number<std::uint8_t>(value ? 1 : 0); }
    void Text(std::string_view text);
    // A value of a record, as its kind is written.
    template <typename T>
    void Put(const T& value)
    {
        if constexpr (std::is_same_v<T, long double>) Extended(value);
        else if constexpr (std::is_same_v<T, bool>) Flag(value);
        else if constexpr (std::is_same_v<T, std::string>) Text(value);
        else Number(value);
    }
    std::string& bytes() { return out_; }
    void Reserve(std::size_t size) { out_.reserve(size); }

private:
    std::string out_;
};

// Reads the values back; whatever does not hold throws RunStateError.
class Reader {
public:
    explicit Reader(std::string_view bytes) : in_(bytes) {}

    template <typename T>
    T Number()
    {
        T value;
        std::memcpy(&value, Take(sizeof(T)), sizeof(T));
        return value;
    }
    long double Extended();
    bool Flag();
    std::string Text();
    // A count of records of `recordBytes` each that must all follow.
    std::uint32_t Count(std::size_t recordBytes, const char* what);
    bool AtEnd() const { return at_ == in_.size(); }
    // A value of a record, as its kind is read.
    template <typename T>
    void Get(T& value)
    {
        if constexpr (std::is_same_v<T, long double>) value = Extended();
        else if constexpr (std::is_same_v<T, bool>) value = Flag();
        else if constexpr (std::is_same_v<T, std::string>) value = Text();
        else value = Number<T>();
    }

    // Throws the RunStateError of a damaged state, saying why.
    [[noreturn]] static void Fail(const std::string& why);

private:
    const char* Take(std::size_t size);

    std::string_view in_;
    std::size_t at_ = 0;
};

// Fails with `what` unless `holds`.
void Require(bool holds, const std::string& what);

bool Within(std::int64_t value, std::int64_t low, std::int64_t high);

}  // namespace state_bytes
