// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
/**
 * @file quorvin.hpp
 * @brief The C++ layer of libquorvin: chips, channels and waveforms as C++ types.
 *
 * Header-only: every function is inline over the C calls of quorvin.h, so a
 * program links libquorvin.so.0 as a C program does, and the library exports
 * no C++ symbol. It compiles as C++17 and later.
 *
 * - quorvin::chip owns an open chip and closes it when it goes; quorvin::channel
 *   holds one of its channels and gives it back when it goes.
 * - quorvin::waveform is a value in std::chrono::nanoseconds, made by checked
 *   builders (from a frequency and a duty ratio, from a period and a pulse).
 * - A refusal of the library throws std::system_error, in the generic category,
 *   with the library's errno (`e.code() == std::errc::invalid_argument`) and a
 *   message naming what failed on which chip and channel. A chip or channel
 *   used after it was closed, released or moved from throws quorvin::closed_error.
 *   A value a builder cannot represent throws std::invalid_argument or
 *   std::out_of_range before anything reaches the library.
 *
 * A chip and its channels are for one thread at a time, as the C handles are.
 */
#ifndef QUORVIN_HPP
#define QUORVIN_HPP

#include <quorvin.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <ratio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

/// Apply waveforms to the channels of a Linux PWM chip (the C++ layer over quorvin.h).
namespace quorvin {

/**
 * @brief A chip or channel used after it was closed, released or moved from.
 *
 * A logic error of the program, not a refusal of the hardware: the object owns
 * nothing to act on, and nothing reached the library.
 */
class closed_error : public std::logic_error {
public:
	/// An error whose what() is @p what.
	explicit closed_error(const std::string &what) : std::logic_error(what) {}
};

//! @cond QUORVIN_DETAIL
namespace detail {

using ns_rep = std::chrono::nanoseconds::rep;
constexpr std::uint64_t max_ns = static_cast<std::uint64_t>(std::numeric_limits<ns_rep>::max());
// 2^63 as a double and a long double, both exact: the first value past max_ns.
constexpr double past_max_ns = 9223372036854775808.0;
constexpr long double past_max_ns_l = 9223372036854775808.0L;

[[noreturn]] inline void refuse_value(const char *what, const char *why)
{
	throw std::invalid_argument(std::string("quorvin::waveform: ") + what + " " + why);
}

[[noreturn]] inline void refuse_range(const char *what, const char *why)
{
	throw std::out_of_range(std::string("quorvin::waveform: ") + what + " " + why);
}

// d in nanoseconds, checked: negative, NaN or infinite, or past 2^63 - 1 ns
// once converted, throws; a fraction of a nanosecond rounds to the nearest,
// halves up.
template <class Rep, class Period>
std::chrono::nanoseconds to_ns(std::chrono::duration<Rep, Period> d, const char *what)
{
	static_assert(std::is_arithmetic<Rep>::value, "a duration of an arithmetic type");
	if constexpr (std::is_floating_point<Rep>::value) {
		const long double v = std::chrono::duration<long double, std::nano>(d).count();
		if (std::isnan(v))
			refuse_value(what, "is not a number");
		if (v < 0)
			refuse_value(what, "is negative");
		const long double r = std::round(v);
		if (!(r < past_max_ns_l))
			refuse_range(what, "is past 2^63 - 1 ns");
		return std::chrono::nanoseconds(static_cast<ns_rep>(r));
	} else {
		if constexpr (std::is_signed<Rep>::value) {
			if (d.count() < 0)
				refuse_value(what, "is negative");
		}
		using to_nano = std::ratio_divide<Period, std::nano>;
		constexpr auto num = static_cast<std::uintmax_t>(to_nano::num);
		constexpr auto den = static_cast<std::uintmax_t>(to_nano::den);
		const auto count = static_cast<std::uintmax_t>(d.count());
		const std::uintmax_t whole = count / den;
		const std::uintmax_t rest = count % den;
		if (whole > max_ns / num)
			refuse_range(what, "is past 2^63 - 1 ns");
		std::uintmax_t ns = whole * num;
		if (rest != 0) {
			// rest * num / den, below num, to the nearest.
			std::uintmax_t part;
			if (rest <= std::numeric_limits<std::uintmax_t>::max() / num) {
				const std::uintmax_t scaled = rest * num;
				part = scaled / den;
				if (scaled % den >= den - scaled % den)
					++part;
			} else {
				part = static_cast<std::uintmax_t>(std::round(static_cast<long double>(rest) *
									      static_cast<long double>(num) /
									      static_cast<long double>(den)));
			}
			if (part > max_ns - ns)
				refuse_range(what, "is past 2^63 - 1 ns");
			ns += part;
		}
		return std::chrono::nanoseconds(static_cast<ns_rep>(ns));
	}
}

struct chip_state;
struct waveform_access;

} // namespace detail
//! @endcond

/**
 * @brief A waveform of a channel: period, duty (the length of the active part)
 * and offset (where in the period the active part starts), in nanoseconds.
 *
 * A plain value (trivially copyable, no allocation). Made by the builders
 * below, which refuse what the library could not take as a number, before any
 * call: a negative time or one past 2^63 - 1 ns throws, as do NaN and infinity.
 * What the channel can make of it (a duty above the period, a period it cannot
 * reach) is the library's to say when it is set.
 *
 * Rounding: a time finer than a nanosecond is rounded to the nearest one
 * (halves up); from a frequency f in hertz the period is 1e9 / f rounded to the
 * nearest nanosecond, and the duty the period times the ratio rounded to the
 * nearest, never above the period (a ratio of 1 gives duty == period exactly).
 * The hardware then makes the nearest waveform at or below that (see
 * pwm_set_waveform).
 */
class waveform {
public:
	/// The output switched off: period, duty and offset all 0.
	constexpr waveform() noexcept = default;

	/// The output switched off (period 0), as a default waveform is.
	[[nodiscard]] static constexpr waveform off() noexcept
	{
		return waveform();
	}

	/**
	 * @brief A period and a pulse (the duty), in any std::chrono::duration.
	 * @throws std::invalid_argument for a negative time, or NaN.
	 * @throws std::out_of_range for one past 2^63 - 1 ns (infinity too).
	 *
	 * `waveform::from_period(20ms, 1500us)` is a servo's centre.
	 */
	template <class Rep1, class Period1, class Rep2, class Period2>
	[[nodiscard]] static waveform from_period(std::chrono::duration<Rep1, Period1> period,
						  std::chrono::duration<Rep2, Period2> pulse)
	{
		return waveform(detail::to_ns(period, "period"), detail::to_ns(pulse, "pulse"),
				std::chrono::nanoseconds(0));
	}

	/**
	 * @brief A period, a pulse (the duty) and the offset at which it starts.
	 * @throws std::invalid_argument for a negative time, or NaN.
	 * @throws std::out_of_range for one past 2^63 - 1 ns (infinity too).
	 */
	template <class Rep1, class Period1, class Rep2, class Period2, class Rep3, class Period3>
	[[nodiscard]] static waveform from_period(std::chrono::duration<Rep1, Period1> period,
						  std::chrono::duration<Rep2, Period2> pulse,
						  std::chrono::duration<Rep3, Period3> offset)
	{
		return waveform(detail::to_ns(period, "period"), detail::to_ns(pulse, "pulse"),
				detail::to_ns(offset, "offset"));
	}

	/**
	 * @brief A frequency in hertz and a duty ratio from 0 to 1.
	 *
	 * The period is 1e9 / @p hz ns rounded to the nearest, the duty the period
	 * times @p ratio rounded to the nearest; a ratio of 1 gives duty == period.
	 * `waveform::from_frequency(25'000, 0.4)` is 40000 ns with 16000 ns active.
	 * @throws std::invalid_argument for a frequency that is NaN or not above 0,
	 *         or a ratio outside 0 to 1 (or NaN).
	 * @throws std::out_of_range for a frequency so low that the period passes
	 *         2^63 - 1 ns, or so high that it rounds to 0 ns (which would switch
	 *         the output off).
	 */
	[[nodiscard]] static waveform from_frequency(double hz, double ratio)
	{
		if (std::isnan(hz))
			detail::refuse_value("frequency", "is not a number");
		if (!(hz > 0))
			detail::refuse_value("frequency", "is not above 0 Hz");
		if (std::isnan(ratio) || ratio < 0 || ratio > 1)
			detail::refuse_value("duty ratio", "is not within 0 to 1");
		const double period = std::round(1e9 / hz);
		if (period >= detail::past_max_ns)
			detail::refuse_range("frequency", "is so low that the period passes 2^63 - 1 ns");
		if (period < 1)
			detail::refuse_range("frequency", "is so high that the period rounds to 0 ns");
		// The period is a whole number of nanoseconds held exactly: times a
		// ratio of at most 1, it stays at most the period, and is the period
		// for a ratio of 1.
		const double duty = std::round(period * ratio);
		return waveform(std::chrono::nanoseconds(static_cast<detail::ns_rep>(period)),
				std::chrono::nanoseconds(static_cast<detail::ns_rep>(duty)),
				std::chrono::nanoseconds(0));
	}

	/**
	 * @brief The waveform of a C record.
	 * @throws std::out_of_range for a time past 2^63 - 1 ns, which this type
	 *         cannot hold (nor the library set).
	 */
	[[nodiscard]] static waveform from_c(const pwm_waveform &wf)
	{
		waveform w;
		if (!w.assign(wf))
			detail::refuse_range("time", "is past 2^63 - 1 ns");
		return w;
	}

	/// The length of a period; 0 for an output switched off.
	[[nodiscard]] constexpr std::chrono::nanoseconds period() const noexcept
	{
		return period_;
	}
	/// The length of the active part of each period.
	[[nodiscard]] constexpr std::chrono::nanoseconds duty() const noexcept
	{
		return duty_;
	}
	/// Where in the period the active part starts.
	[[nodiscard]] constexpr std::chrono::nanoseconds offset() const noexcept
	{
		return offset_;
	}

	/**
	 * @brief The same waveform with another duty: the one change of a sweep.
	 * @throws std::invalid_argument, std::out_of_range as from_period.
	 */
	template <class Rep, class Period>
	[[nodiscard]] waveform with_duty(std::chrono::duration<Rep, Period> duty) const
	{
		return waveform(period_, detail::to_ns(duty, "duty"), offset_);
	}

	/**
	 * @brief Inversed polarity: the same period and duty, the active part
	 * placed at the end of the period (offset = period - duty), as `pwm-set -i`
	 * does. The kernel shows it as polarity "inversed", duty_cycle period - duty.
	 *
	 * A waveform with no active part, or with nothing but, has nothing to place
	 * and comes back with offset 0; so does one with a duty above its period,
	 * which the library then refuses as it would have.
	 */
	[[nodiscard]] constexpr waveform inversed() const noexcept
	{
		if (duty_.count() == 0 || duty_ >= period_)
			return waveform(period_, duty_, std::chrono::nanoseconds(0));
		return waveform(period_, duty_, period_ - duty_);
	}

	/// The C record of this waveform, as pwm_set_waveform takes it.
	[[nodiscard]] constexpr pwm_waveform to_c() const noexcept
	{
		return pwm_waveform{ static_cast<std::uint64_t>(period_.count()),
				     static_cast<std::uint64_t>(duty_.count()),
				     static_cast<std::uint64_t>(offset_.count()) };
	}

	/// Whether @p a and @p b have the same period, duty and offset.
	[[nodiscard]] friend constexpr bool operator==(const waveform &a, const waveform &b) noexcept
	{
		return a.period_ == b.period_ && a.duty_ == b.duty_ && a.offset_ == b.offset_;
	}

	/// Whether @p a and @p b differ in period, duty or offset.
	[[nodiscard]] friend constexpr bool operator!=(const waveform &a, const waveform &b) noexcept
	{
		return !(a == b);
	}

	/// Prints "period 20000000 ns, duty 1500000 ns" (", offset N ns" where not 0), or "off".
	friend std::ostream &operator<<(std::ostream &os, const waveform &w)
	{
		return os << w.text();
	}

private:
	constexpr waveform(std::chrono::nanoseconds period, std::chrono::nanoseconds duty,
			   std::chrono::nanoseconds offset) noexcept
	    : period_(period), duty_(duty), offset_(offset)
	{}

	friend struct detail::waveform_access;

	// For the channel: reads a C record, false where it does not fit.
	bool assign(const pwm_waveform &wf) noexcept
	{
		if (wf.period_length_ns > detail::max_ns || wf.duty_length_ns > detail::max_ns ||
		    wf.duty_offset_ns > detail::max_ns)
			return false;
		period_ = std::chrono::nanoseconds(static_cast<detail::ns_rep>(wf.period_length_ns));
		duty_ = std::chrono::nanoseconds(static_cast<detail::ns_rep>(wf.duty_length_ns));
		offset_ = std::chrono::nanoseconds(static_cast<detail::ns_rep>(wf.duty_offset_ns));
		return true;
	}

	std::string text() const
	{
		if (*this == off())
			return "off";
		std::string s = "period " + std::to_string(period_.count()) + " ns, duty " +
			std::to_string(duty_.count()) + " ns";
		if (offset_.count() != 0)
			s += ", offset " + std::to_string(offset_.count()) + " ns";
		return s;
	}

	std::chrono::nanoseconds period_{ 0 };
	std::chrono::nanoseconds duty_{ 0 };
	std::chrono::nanoseconds offset_{ 0 };
};

/// Who holds a channel: enum pwm_holder.
enum class holder {
	none = PWM_HOLDER_NONE, ///< Free.
	sysfs = PWM_HOLDER_SYSFS, ///< Exported through sysfs.
	device = PWM_HOLDER_DEVICE, ///< Requested through the device node, by any process.
	kernel = PWM_HOLDER_KERNEL, ///< A kernel driver: an LED, a fan, a backlight.
	unknown = PWM_HOLDER_UNKNOWN, ///< Held, or maybe held, by someone the kernel does not name here.
};

/// Prints the holder as pwm-info names it: "free", "sysfs", "device", "kernel" or "unknown".
inline std::ostream &operator<<(std::ostream &os, holder h)
{
	switch (h) {
	case holder::none:
		return os << "free";
	case holder::sysfs:
		return os << "sysfs";
	case holder::device:
		return os << "device";
	case holder::kernel:
		return os << "kernel";
	case holder::unknown:
		break;
	}
	return os << "unknown";
}

/**
 * @brief What one channel is doing, read without taking it (chip::info,
 * channel::info): a copy of the library's snapshot, which is freed at once.
 */
struct channel_info {
	/// The channel's number on its chip.
	unsigned int channel = 0;
	/// Who holds it; a holder newer than this header is holder::unknown.
	quorvin::holder holder = quorvin::holder::unknown;
	/// The label the kernel shows for its holder ("led-1", "pwm-cdev (pid=N)"), where it shows one.
	std::optional<std::string> label;
	/// Its waveform, where it could be read without taking anything.
	std::optional<quorvin::waveform> waveform;
};

/// Prints `channel 0, kernel "pwm-fan", period 30000 ns, duty 10000 ns`; "waveform unknown" where it is not
/// known.
inline std::ostream &operator<<(std::ostream &os, const channel_info &info)
{
	os << "channel " << info.channel << ", " << info.holder;
	if (info.label)
		os << " \"" << *info.label << '"';
	if (info.waveform)
		return os << ", " << *info.waveform;
	return os << ", waveform unknown";
}

//! @cond QUORVIN_DETAIL
namespace detail {

struct waveform_access {
	static bool assign(waveform &w, const pwm_waveform &wf) noexcept
	{
		return w.assign(wf);
	}
	static std::string text(const waveform &w)
	{
		return w.text();
	}
};

// What a chip and its channels share: the C handle (null once the chip is
// closed), so that a channel whose chip went first finds it closed instead
// of using freed memory, and which channels a channel object holds.
struct chip_state {
	pwm_chip *handle = nullptr;
	unsigned int number = 0;
	std::vector<unsigned int> held;
};

[[noreturn]] inline void throw_errno(int err, const std::string &what)
{
	throw std::system_error(err, std::generic_category(), what);
}

inline std::string channel_name(unsigned int chip, unsigned int channel)
{
	return "pwmchip" + std::to_string(chip) + " channel " + std::to_string(channel);
}

inline quorvin::holder holder_of(int h) noexcept
{
	return h >= PWM_HOLDER_NONE && h <= PWM_HOLDER_UNKNOWN ? static_cast<quorvin::holder>(h)
							       : quorvin::holder::unknown;
}

struct info_free {
	void operator()(pwm_info *info) const noexcept
	{
		pwm_info_free(info);
	}
};

// pwm_chip_get_pwm_info, copied and freed.
inline channel_info describe(pwm_chip *chip, unsigned int number, unsigned int channel)
{
	const std::unique_ptr<pwm_info, info_free> info(pwm_chip_get_pwm_info(chip, channel));
	if (!info)
		throw_errno(errno, "cannot describe " + channel_name(number, channel));
	channel_info out;
	out.channel = pwm_info_get_channel(info.get());
	out.holder = holder_of(pwm_info_get_holder(info.get()));
	if (const char *label = pwm_info_get_label(info.get()))
		out.label = label;
	pwm_waveform wf{};
	if (pwm_info_get_waveform(info.get(), &wf) == 0) {
		waveform w;
		if (!waveform_access::assign(w, wf))
			throw_errno(EOVERFLOW, "cannot describe " + channel_name(number, channel));
		out.waveform = w;
	}
	return out;
}

} // namespace detail
//! @endcond

class chip;

/**
 * @brief One channel of a chip, held through it: chip::channel gives one.
 *
 * Move-only. The hold is given back when the object goes, or at release(),
 * with pwm_release: the output then does what closing the chip would do to it
 * (taken through the device node the channel is freed and its driver decides:
 * most keep the last waveform, some stop it, a PCA9685 sleeps once its last
 * channel is freed; taken through sysfs it stays exported and runs on).
 *
 * A channel is a checked view of its chip: where the chip is closed (or
 * destroyed) first, the library has freed the channel's handle with it, and
 * every call on the channel throws closed_error instead of touching it. Moving
 * the chip moves its channels' chip along: they keep working.
 *
 * Every member but release(), number(), chip_number(), try_set(), operator
 * bool, swap and printing throws closed_error on a channel released, moved
 * from, default made, or whose chip is closed (chip_number() only on one moved
 * from or default made).
 */
class [[nodiscard]] channel {
public:
	/// A channel that holds nothing, as a moved-from one.
	channel() noexcept = default;
	channel(const channel &) = delete;
	channel &operator=(const channel &) = delete;

	/// Takes over @p other's hold; @p other then holds nothing.
	channel(channel &&other) noexcept
	    : state_(std::move(other.state_)), pwm_(std::exchange(other.pwm_, nullptr)),
	      number_(other.number_)
	{}

	/// Gives back this channel's hold, then takes over @p other's.
	channel &operator=(channel &&other) noexcept
	{
		if (this != &other) {
			release();
			state_ = std::move(other.state_);
			pwm_ = std::exchange(other.pwm_, nullptr);
			number_ = other.number_;
		}
		return *this;
	}

	/// Gives the channel back, as release() does.
	~channel()
	{
		release();
	}

	/// Exchanges the holds of @p a and @p b.
	friend void swap(channel &a, channel &b) noexcept
	{
		std::swap(a.state_, b.state_);
		std::swap(a.pwm_, b.pwm_);
		std::swap(a.number_, b.number_);
	}

	/**
	 * @brief Gives the channel back before its chip is closed (pwm_release).
	 *
	 * The output does what closing the chip would do to it (see the class).
	 * The channel can then be taken again, through this chip or another
	 * handle. A channel released, moved from or of a closed chip: nothing.
	 */
	void release() noexcept
	{
		if (pwm_ != nullptr && state_->handle != nullptr) {
			pwm_release(pwm_);
			auto &held = state_->held;
			held.erase(std::remove(held.begin(), held.end(), number_), held.end());
		}
		pwm_ = nullptr;
	}

	/// Whether the channel is held: not released, moved from, or of a closed chip.
	explicit operator bool() const noexcept
	{
		return pwm_ != nullptr && state_->handle != nullptr;
	}

	/// The channel's number on its chip (kept after release).
	[[nodiscard]] unsigned int number() const noexcept
	{
		return number_;
	}

	/// The chip's number, N of pwmchipN (kept after release and after the chip is closed).
	[[nodiscard]] unsigned int chip_number() const
	{
		check_state();
		return state_->number;
	}

	/**
	 * @brief Makes the channel emit @p w (pwm_set_waveform): one call of the
	 * library, no allocation.
	 *
	 * The hardware makes the nearest waveform at or below @p w; a refused call
	 * leaves the output as it was.
	 * @throws std::system_error with the library's errno: EINVAL for a duty above
	 *         the period, a nonzero offset not below it, or a period the channel
	 *         can only make longer; EOPNOTSUPP for an offset it cannot make; EIO
	 *         where the hardware does not run what it took; EAGAIN where a channel
	 *         sharing the period keeps changing it.
	 * @throws closed_error on a channel that holds nothing.
	 */
	void set(const waveform &w)
	{
		pwm *p = live();
		const pwm_waveform wf = w.to_c();
		if (pwm_set_waveform(p, &wf) < 0)
			fail_set(errno, w);
	}

	/**
	 * @brief set() for loops that take a refusal as data: the library's errno
	 * as a std::error_code (generic category), empty on success.
	 *
	 * Never throws: a channel that holds nothing gives
	 * std::errc::bad_file_descriptor, as the library does for a released handle.
	 */
	[[nodiscard]] std::error_code try_set(const waveform &w) noexcept
	{
		if (!*this)
			return std::make_error_code(std::errc::bad_file_descriptor);
		const pwm_waveform wf = w.to_c();
		if (pwm_set_waveform(pwm_, &wf) < 0)
			return std::error_code(errno, std::generic_category());
		return std::error_code();
	}

	/// Switches the output off (a period of 0), as set(waveform::off()).
	void disable()
	{
		set(waveform::off());
	}

	/**
	 * @brief The waveform the channel emits now (pwm_get_waveform): through the
	 * device node what the hardware runs, through sysfs what the kernel last
	 * accepted. An output without an active part is waveform::off().
	 * @throws std::system_error with the library's errno.
	 */
	[[nodiscard]] waveform get() const
	{
		pwm_waveform wf{};
		if (pwm_get_waveform(live(), &wf) < 0)
			fail(errno, "cannot read the waveform of ");
		return checked(wf, "cannot read the waveform of ");
	}

	/**
	 * @brief What the hardware runs, as its driver reads it back
	 * (pwm_get_hardware_waveform); through sysfs from the kernel's debugfs
	 * listing, root's.
	 * @throws std::system_error with the library's errno: ENODATA where the
	 *         driver cannot read back; through sysfs the listing's errno where it
	 *         cannot be read (EACCES, ENOENT).
	 */
	[[nodiscard]] waveform hardware() const
	{
		pwm_waveform wf{};
		if (pwm_get_hardware_waveform(live(), &wf) < 0)
			fail(errno, "cannot read the hardware waveform of ");
		return checked(wf, "cannot read the hardware waveform of ");
	}

	/**
	 * @brief What the channel would make of @p w, changing nothing
	 * (pwm_round_waveform), also where that is longer than asked.
	 * @throws std::system_error with the library's errno: EOPNOTSUPP through
	 *         sysfs, where the kernel cannot be asked; EINVAL for a waveform
	 *         set() refuses before anything is written.
	 */
	[[nodiscard]] waveform round(const waveform &w) const
	{
		pwm_waveform wf = w.to_c();
		if (pwm_round_waveform(live(), &wf) < 0)
			fail(errno, "cannot round " + detail::waveform_access::text(w) + " on ");
		return checked(wf, "cannot round " + detail::waveform_access::text(w) + " on ");
	}

	/// What the channel is doing (chip::info of its number). @throws std::system_error.
	[[nodiscard]] channel_info info() const
	{
		live();
		return detail::describe(state_->handle, state_->number, number_);
	}

	/// The C handle, for calls of quorvin.h; null where the channel holds nothing.
	[[nodiscard]] pwm *native_handle() const noexcept
	{
		return *this ? pwm_ : nullptr;
	}

	/// Prints "pwmchip0 channel 1", with " (released)" or " (chip closed)"; "channel (moved from)".
	friend std::ostream &operator<<(std::ostream &os, const channel &c)
	{
		if (!c.state_)
			return os << "channel (moved from)";
		os << detail::channel_name(c.state_->number, c.number_);
		if (c.state_->handle == nullptr)
			return os << " (chip closed)";
		if (c.pwm_ == nullptr)
			return os << " (released)";
		return os;
	}

private:
	friend class chip;

	channel(std::shared_ptr<detail::chip_state> state, pwm *p, unsigned int number) noexcept
	    : state_(std::move(state)), pwm_(p), number_(number)
	{}

	void check_state() const
	{
		if (!state_)
			throw closed_error("quorvin::channel: holds no channel (moved from, or made empty)");
	}

	pwm *live() const
	{
		if (pwm_ == nullptr || state_->handle == nullptr)
			fail_closed();
		return pwm_;
	}

	[[noreturn]] void fail_closed() const
	{
		check_state();
		const std::string name = detail::channel_name(state_->number, number_);
		if (state_->handle == nullptr)
			throw closed_error(name + ": used after its chip was closed");
		throw closed_error(name + ": used after it was released");
	}

	[[noreturn]] void fail(int err, const std::string &what) const
	{
		detail::throw_errno(err, what + detail::channel_name(state_->number, number_));
	}

	[[noreturn]] void fail_set(int err, const waveform &w) const
	{
		const std::string name = detail::channel_name(state_->number, number_);
		if (w == waveform::off())
			detail::throw_errno(err, "cannot switch " + name + " off");
		detail::throw_errno(err, "cannot set " + name + " to " + detail::waveform_access::text(w));
	}

	waveform checked(const pwm_waveform &wf, const std::string &what) const
	{
		waveform w;
		if (!detail::waveform_access::assign(w, wf))
			fail(EOVERFLOW, what);
		return w;
	}

	std::shared_ptr<detail::chip_state> state_;
	pwm *pwm_ = nullptr;
	unsigned int number_ = 0;
};

/**
 * @brief An open PWM chip: the owner of the library's chip handle.
 *
 * Move-only; closed (pwm_chip_close) when it goes or at close(). Closing gives
 * back every channel taken through it: a channel taken through the device node
 * is freed, and some drivers stop its output then (a PCA9685 all of its
 * outputs); one taken through sysfs stays exported and runs on. The library
 * itself changes no output on the way: to switch one off first, call
 * channel::disable().
 *
 * Every member but close(), number(), operator bool, swap and printing throws
 * closed_error on a chip closed, moved from or default made.
 */
class [[nodiscard]] chip {
public:
	/// A chip that owns nothing, as a moved-from one.
	chip() noexcept = default;
	chip(const chip &) = delete;
	chip &operator=(const chip &) = delete;

	/**
	 * @brief Opens chip @p number (pwm_chip_open_by_number): through its device
	 * node /dev/pwmchipN where the kernel gives it one, through sysfs otherwise.
	 * @throws std::system_error with the library's errno (ENOENT for no such chip).
	 */
	explicit chip(unsigned int number) : state_(std::make_shared<detail::chip_state>())
	{
		state_->handle = pwm_chip_open_by_number(number);
		if (state_->handle == nullptr)
			detail::throw_errno(errno, "cannot open pwmchip" + std::to_string(number));
		number_ = state_->number = pwm_chip_get_number(state_->handle);
	}

	/**
	 * @brief Opens the chip that @p name names (pwm_chip_open_by_name):
	 * "pwmchipN", its sysfs folder or device node, its parent device's name
	 * ("4ff00000.pwm"), the parent's device-tree node path or alias.
	 * @throws std::system_error with the library's errno (ENOENT where nothing
	 *         matches, EINVAL for an empty name).
	 */
	explicit chip(std::string_view name) : state_(std::make_shared<detail::chip_state>())
	{
		const std::string text(name);
		state_->handle = pwm_chip_open_by_name(text.c_str());
		if (state_->handle == nullptr)
			detail::throw_errno(errno, "cannot open \"" + text + '"');
		number_ = state_->number = pwm_chip_get_number(state_->handle);
	}

	/// Takes over @p other's chip and the channels taken through it; @p other then owns nothing.
	chip(chip &&other) noexcept : state_(std::move(other.state_)), number_(other.number_) {}

	/// Closes this chip, then takes over @p other's.
	chip &operator=(chip &&other) noexcept
	{
		if (this != &other) {
			close();
			state_ = std::move(other.state_);
			number_ = other.number_;
		}
		return *this;
	}

	/// Closes the chip, as close() does.
	~chip()
	{
		close();
	}

	/// Exchanges the chips of @p a and @p b.
	friend void swap(chip &a, chip &b) noexcept
	{
		std::swap(a.state_, b.state_);
		std::swap(a.number_, b.number_);
	}

	/**
	 * @brief Closes the chip (pwm_chip_close) and with it the holds of its
	 * channels, whose objects then throw closed_error (see the class for what
	 * the outputs do). A chip closed, moved from or default made: nothing.
	 */
	void close() noexcept
	{
		if (state_ && state_->handle != nullptr) {
			pwm_chip_close(state_->handle);
			state_->handle = nullptr;
			state_->held.clear();
		}
	}

	/// Whether the chip is open.
	explicit operator bool() const noexcept
	{
		return state_ && state_->handle != nullptr;
	}

	/// The chip's number, N of pwmchipN (kept after close; 0 for a chip that never opened).
	[[nodiscard]] unsigned int number() const noexcept
	{
		return number_;
	}

	/// How many channels the chip has. @throws std::system_error where it cannot be read.
	[[nodiscard]] unsigned int npwm() const
	{
		const unsigned int n = pwm_chip_get_npwm(live());
		if (n == 0)
			detail::throw_errno(
				errno, "cannot read the channel count of pwmchip" + std::to_string(number_));
		return n;
	}

	/// The name of the chip's parent device ("4ff00000.pwm"), where the kernel shows one.
	[[nodiscard]] std::optional<std::string> device_name() const
	{
		return text_or_none(pwm_chip_get_device_name(live()));
	}

	/// The name of the parent device's driver ("pwm-mediatek"), where the kernel shows one.
	[[nodiscard]] std::optional<std::string> driver_name() const
	{
		return text_or_none(pwm_chip_get_driver_name(live()));
	}

	/// Whether the chip is driven through its device node (true) or through sysfs.
	[[nodiscard]] bool has_device_node() const
	{
		return pwm_chip_has_device_node(live()) == 1;
	}

	/**
	 * @brief Takes channel @p n (pwm_chip_get_pwm), held until the returned
	 * object goes or is released, or the chip is closed.
	 *
	 * One channel object per channel at a time: asking again for a channel that
	 * a live object of this chip holds throws EBUSY, as another holder gets.
	 * @throws std::system_error with the library's errno: EINVAL beyond the
	 *         chip's count, EBUSY for a channel held by another holder, EACCES
	 *         for one this user may not drive.
	 */
	[[nodiscard]] quorvin::channel channel(unsigned int n) &
	{
		return take(n, pwm_chip_get_pwm, "cannot take ");
	}
	/// Not from a temporary chip, which would close at once and leave the channel holding nothing.
	quorvin::channel channel(unsigned int n) && = delete;

	/**
	 * @brief Takes channel @p n through sysfs, exported (pwm_chip_export_pwm),
	 * so that its output runs on after the chip is closed and the program ends,
	 * whatever the driver.
	 * @throws std::system_error as channel(), and EBUSY for a channel this chip
	 *         holds through the device node.
	 */
	[[nodiscard]] quorvin::channel export_channel(unsigned int n) &
	{
		return take(n, pwm_chip_export_pwm, "cannot export ");
	}
	/// Not from a temporary chip, which would close at once.
	quorvin::channel export_channel(unsigned int n) && = delete;

	/**
	 * @brief What channel @p n is doing, read without taking it
	 * (pwm_chip_get_pwm_info); nothing changes on the way.
	 * @throws std::system_error with the library's errno: EINVAL beyond the
	 *         chip's count, ENODEV where the chip went away.
	 */
	[[nodiscard]] channel_info info(unsigned int n) const
	{
		return detail::describe(live(), number_, n);
	}

	/// The C handle, for calls of quorvin.h; null where the chip is not open.
	[[nodiscard]] pwm_chip *native_handle() const noexcept
	{
		return *this ? state_->handle : nullptr;
	}

	/// Prints "pwmchip2 (4ff00000.pwm), 4 channels, device node" or "pwmchip2 (closed)".
	friend std::ostream &operator<<(std::ostream &os, const chip &c)
	{
		if (!c.state_)
			return os << "chip (moved from)";
		os << "pwmchip" << c.number_;
		if (!c)
			return os << " (closed)";
		const char *device = pwm_chip_get_device_name(c.state_->handle);
		os << " (" << (device != nullptr ? device : "no parent device") << "), ";
		const int err = errno;
		if (const unsigned int n = pwm_chip_get_npwm(c.state_->handle); n != 0)
			os << n << (n == 1 ? " channel, " : " channels, ");
		else
			os << "channel count unknown, ";
		errno = err;
		return os << (pwm_chip_has_device_node(c.state_->handle) == 1 ? "device node" : "sysfs");
	}

private:
	pwm_chip *live() const
	{
		if (!state_)
			throw closed_error("quorvin::chip: owns no chip (moved from, or made empty)");
		if (state_->handle == nullptr)
			throw closed_error("pwmchip" + std::to_string(number_) +
					   ": used after it was closed");
		return state_->handle;
	}

	static std::optional<std::string> text_or_none(const char *s)
	{
		if (s == nullptr)
			return std::nullopt;
		return std::string(s);
	}

	quorvin::channel take(unsigned int n, pwm *(*get)(pwm_chip *, unsigned int), const char *verb)
	{
		pwm_chip *handle = live();
		auto &held = state_->held;
		if (std::find(held.begin(), held.end(), n) != held.end())
			detail::throw_errno(EBUSY, verb + detail::channel_name(number_, n));
		// Room first: nothing may throw once the channel is taken.
		held.reserve(held.size() + 1);
		pwm *p = get(handle, n);
		if (p == nullptr)
			detail::throw_errno(errno, verb + detail::channel_name(number_, n));
		held.push_back(n);
		return quorvin::channel(state_, p, n);
	}

	std::shared_ptr<detail::chip_state> state_;
	unsigned int number_ = 0;
};

/**
 * @brief The numbers of the chips present, lowest first (pwm_chip_next_number),
 * as an input range: chip_numbers() gives one.
 *
 * Numbers, not opened chips: a chip this user may not open does not stop the
 * listing. Each step asks the library afresh.
 */
class chip_number_range {
public:
	/// An input iterator over the numbers.
	class iterator {
	public:
		using iterator_category = std::input_iterator_tag; ///< An input iterator.
		using value_type = unsigned int; ///< A chip number.
		using difference_type = std::ptrdiff_t; ///< As for any iterator.
		using pointer = const unsigned int *; ///< A pointer to a chip number.
		using reference = unsigned int; ///< A chip number, by value.

		/// The end.
		iterator() noexcept = default;

		/// The chip number at this place.
		[[nodiscard]] unsigned int operator*() const noexcept
		{
			return static_cast<unsigned int>(n_);
		}

		/**
		 * @brief The next chip.
		 * @throws std::system_error where the chips cannot be listed.
		 */
		iterator &operator++()
		{
			n_ = next(n_);
			return *this;
		}

		/// The next chip; @throws std::system_error where the chips cannot be listed.
		iterator operator++(int)
		{
			iterator before = *this;
			++*this;
			return before;
		}

		/// Whether @p a and @p b are at the same chip, or both at the end.
		[[nodiscard]] friend bool operator==(const iterator &a, const iterator &b) noexcept
		{
			return a.n_ == b.n_;
		}

		/// Whether @p a and @p b are at different places.
		[[nodiscard]] friend bool operator!=(const iterator &a, const iterator &b) noexcept
		{
			return a.n_ != b.n_;
		}

	private:
		friend class chip_number_range;

		explicit iterator(int n) noexcept : n_(n) {}

		static int next(int after)
		{
			const int n = pwm_chip_next_number(after);
			if (n < 0 && errno != ENOENT)
				detail::throw_errno(errno, "cannot list the PWM chips");
			return n < 0 ? -1 : n;
		}

		int n_ = -1;
	};

	/// The lowest chip. @throws std::system_error where the chips cannot be listed.
	[[nodiscard]] iterator begin() const
	{
		return iterator(iterator::next(-1));
	}
	/// Past the last chip.
	[[nodiscard]] iterator end() const noexcept
	{
		return iterator();
	}
};

/// The numbers of the chips present: `for (unsigned n : quorvin::chip_numbers())`.
[[nodiscard]] inline chip_number_range chip_numbers() noexcept
{
	return chip_number_range();
}

} // namespace quorvin

#endif // QUORVIN_HPP
