#pragma once

namespace brano::core {
inline namespace v6 {

// A calendar date.
class date {
public:
    date() = default;
    date(int year, int month, int day) : year_(year), month_(month), day_(day) {}

    int get_day() const noexcept { return day_; }
    int get_month() const noexcept { return month_; }
    int get_year() const noexcept { return year_; }

    friend bool operator==(date const& a, date const& b) {
        return a.year_ == b.year_ && a.month_ == b.month_ && a.day_ == b.day_;
    }

private:
    int year_ = 1970;
    int month_ = 1;
    int day_ = 1;
};

// A point in time with millisecond precision. The default value is the
// Unix epoch.
class datetime {
public:
    datetime() = default;

    static datetime now();
    static datetime from_msecs_since_epoch(long long msecs);
    long long to_msecs_since_epoch() const noexcept { return msecs_; }
    // The date of this point in the local time zone.
    date get_date() const;

    friend bool operator==(datetime const& a, datetime const& b) { return a.msecs_ == b.msecs_; }
    friend bool operator!=(datetime const& a, datetime const& b) { return a.msecs_ != b.msecs_; }

private:
    long long msecs_ = 0;
};

} // namespace v6
} // namespace brano::core
