// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
// quorvin.hpp, the C++ layer, over the real library: on the emulated chip
// behind a device node (tests/pwm_model/) and on a made-up sysfs tree. Built
// twice, as C++17 and as C++20, with -Wconversion and warnings as errors.
#include "cdev_interpose.h"

#include <quorvin.hpp>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

using namespace std::chrono_literals;
using quorvin::waveform;

// ---- What the types promise, checked by the compiler ----

namespace {

template <class T, class = void> struct takes_channel : std::false_type {};
template <class T>
struct takes_channel<T, std::void_t<decltype(std::declval<T>().channel(0U))>> : std::true_type {};
template <class T, class = void> struct exports_channel : std::false_type {};
template <class T>
struct exports_channel<T, std::void_t<decltype(std::declval<T>().export_channel(0U))>> : std::true_type {};

} // namespace

static_assert(!std::is_copy_constructible<quorvin::chip>::value);
static_assert(!std::is_copy_assignable<quorvin::chip>::value);
static_assert(std::is_nothrow_move_constructible<quorvin::chip>::value);
static_assert(std::is_nothrow_move_assignable<quorvin::chip>::value);
static_assert(!std::is_copy_constructible<quorvin::channel>::value);
static_assert(!std::is_copy_assignable<quorvin::channel>::value);
static_assert(std::is_nothrow_move_constructible<quorvin::channel>::value);
static_assert(std::is_nothrow_move_assignable<quorvin::channel>::value);
static_assert(std::is_trivially_copyable<waveform>::value);
static_assert(takes_channel<quorvin::chip &>::value && !takes_channel<quorvin::chip>::value,
	      "a channel of a temporary chip does not compile");
static_assert(exports_channel<quorvin::chip &>::value && !exports_channel<quorvin::chip>::value);
static_assert(std::is_base_of<std::logic_error, quorvin::closed_error>::value);
static_assert(noexcept(std::declval<quorvin::chip &>().close()) &&noexcept(
	std::declval<quorvin::chip &>().number()));
static_assert(noexcept(std::declval<quorvin::channel &>().release()) &&noexcept(
	std::declval<quorvin::channel &>().try_set(waveform())));
static_assert(!noexcept(std::declval<quorvin::channel &>().set(waveform())), "set throws");
static_assert(noexcept(waveform().period()) &&noexcept(waveform() == waveform()));
static_assert(waveform::off() == waveform() && waveform().period() == 0ns, "a default waveform is off");

// ---- Counting: calls of pwm_set_waveform, and allocations ----

namespace {

int set_calls;
long allocations;

} // namespace

// The library's own, counted: the header's calls land here first.
extern "C" int pwm_set_waveform(struct pwm *pwm, const struct pwm_waveform *wf)
{
	static auto *real = reinterpret_cast<int (*)(struct pwm *, const struct pwm_waveform *)>(
		dlsym(RTLD_NEXT, "pwm_set_waveform"));
	++set_calls;
	return real(pwm, wf);
}

// GCC 12 takes the free below for one of memory from new, which it is not
// once new is this one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t n)
{
	++allocations;
	if (void *p = std::malloc(n != 0 ? n : 1))
		return p;
	throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
	std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
	std::free(p);
}

// A write the kernel refuses, played on the made-up tree: every pwrite
// fails with this errno where it is not 0. Where off_t is wider than long,
// the headers make the library's call pwrite64.
int pwrite_fails;

extern "C" ssize_t pwrite(int fd, const void *buf, size_t n, off_t offset)
{
	static auto *real = reinterpret_cast<ssize_t (*)(int, const void *, size_t, off_t)>(
		dlsym(RTLD_NEXT, sizeof(off_t) > sizeof(long) ? "pwrite64" : "pwrite"));
	if (pwrite_fails == 0)
		return real(fd, buf, n, offset);
	errno = pwrite_fails;
	return -1;
}

// ---- The emulated chip and the made-up tree ----

namespace {

namespace fs = std::filesystem;

cdev_model chip_state;

} // namespace

cdev_model *interposed_model()
{
	return &chip_state;
}

namespace {

std::string text_of(const std::function<void(std::ostream &)> &print)
{
	std::ostringstream os;
	print(os);
	return os.str();
}

// A fresh root for each test: dev/pwmchip0 the emulated device (four
// channels, shared_counter_cdev_model), sys/ with its npwm, and no debugfs
// listing. tree() lays a made-up sysfs chip instead, with no device node.
class CxxApiTest : public testing::Test {
protected:
	void SetUp() override
	{
		chip_state = shared_counter_cdev_model();
		std::string dir = (fs::temp_directory_path() / "cxx-api-test.XXXXXX").string();
		ASSERT_NE(mkdtemp(dir.data()), nullptr);
		root_ = dir;
		fs::create_directories(root_ + "/dev");
		fs::create_directories(root_ + "/sys/pwmchip0");
		std::ofstream(root_ + "/sys/pwmchip0/npwm") << "4\n";
		fs::create_symlink("/dev/zero", root_ + "/dev/pwmchip0");
		setenv("QUORVIN_DEV_DIR", (root_ + "/dev").c_str(), 1);
		setenv("QUORVIN_SYSFS_DIR", (root_ + "/sys").c_str(), 1);
		setenv("QUORVIN_DEBUGFS_PWM", (root_ + "/no-debugfs").c_str(), 1);
	}

	void TearDown() override
	{
		unsetenv("QUORVIN_DEV_DIR");
		unsetenv("QUORVIN_SYSFS_DIR");
		unsetenv("QUORVIN_DEBUGFS_PWM");
		fs::remove_all(root_);
	}

	// A made-up chip 0 of two channels, exported and switched off, through
	// sysfs only.
	void tree()
	{
		const std::string sys = root_ + "/tree";
		ASSERT_EQ(std::system( // NOLINT(cert-env33-c): runs the project's own script
				  ("'" MAKE_PWM_TREE "' '" + sys + "' 2").c_str()),
			  0);
		setenv("QUORVIN_SYSFS_DIR", sys.c_str(), 1);
		setenv("QUORVIN_DEV_DIR", (root_ + "/no-dev").c_str(), 1);
	}

	std::string root_;
};

// ---- Waveforms: each builder's rounding, and what it refuses ----

TEST(Waveform, BuildersRoundAsTheHeaderSays)
{
	struct row {
		const char *name;
		waveform got;
		int64_t period, duty, offset;
	};
	using thirds = std::chrono::duration<int64_t, std::ratio<1, 3>>;
	using ps = std::chrono::duration<int64_t, std::pico>;
	using halves_ns = std::chrono::duration<uint64_t, std::ratio<1, 2000000000>>;
	// clang-format off
	const row rows[] = {
		{ "1 kHz at 0.5", waveform::from_frequency(1000, 0.5), 1000000, 500000, 0 },
		{ "25 kHz at 0.4", waveform::from_frequency(25000, 0.4), 40000, 16000, 0 },
		{ "50 Hz at 7.5 %", waveform::from_frequency(50, 0.075), 20000000, 1500000, 0 },
		{ "ratio 1: duty == period", waveform::from_frequency(3, 1.0), 333333333, 333333333, 0 },
		{ "a half ns of duty rounds up", waveform::from_frequency(3, 0.5), 333333333, 166666667, 0 },
		{ "ratio 0", waveform::from_frequency(3, 0), 333333333, 0, 0 },
		{ "a period of half a ns rounds up to 1", waveform::from_frequency(2e9, 0.5), 1, 1, 0 },
		{ "0.2 Hz", waveform::from_frequency(0.2, 0.25), 5000000000, 1250000000, 0 },
		{ "20 ms, 1.5 ms", waveform::from_period(20ms, 1500us), 20000000, 1500000, 0 },
		{ "with an offset", waveform::from_period(1h, 1min, 1s), 3600000000000, 60000000000, 1000000000 },
		{ "double seconds", waveform::from_period(std::chrono::duration<double>(0.02),
						       std::chrono::duration<float, std::milli>(1.5F)), 20000000, 1500000, 0 },
		{ "1.0006 us in a double rounds to 1001 ns", waveform::from_period(
			std::chrono::duration<double, std::micro>(1.0006), std::chrono::duration<double, std::nano>(0.5)),
		  1001, 1, 0 },
		{ "unsigned ms", waveform::from_period(std::chrono::duration<unsigned, std::milli>(20), 7ns), 20000000, 7, 0 },
		{ "1.5 ns in ps rounds up", waveform::from_period(ps(1500), ps(1499)), 2, 1, 0 },
		{ "thirds of a second", waveform::from_period(thirds(2), thirds(1)), 666666667, 333333333, 0 },
		{ "the longest period", waveform::from_period(std::chrono::nanoseconds::max(), 0ns),
		  std::numeric_limits<int64_t>::max(), 0, 0 },
		{ "2562047 h fits", waveform::from_period(std::chrono::hours(2562047), 0ns), 9223369200000000000, 0, 0 },
		{ "2^64 - 2 half ns", waveform::from_period(halves_ns(std::numeric_limits<uint64_t>::max() - 1), 0ns),
		  std::numeric_limits<int64_t>::max(), 0, 0 },
		{ "with_duty", waveform::from_period(20ms, 1ms).with_duty(2ms), 20000000, 2000000, 0 },
		{ "inversed: the active part at the end", waveform::from_period(20ms, 5ms).inversed(), 20000000, 5000000,
		  15000000 },
		{ "inversed, no active part", waveform::from_frequency(1000, 0).inversed(), 1000000, 0, 0 },
		{ "inversed, all active", waveform::from_frequency(1000, 1).inversed(), 1000000, 1000000, 0 },
		{ "inversed replaces an offset", waveform::from_period(100ns, 30ns, 5ns).inversed(), 100, 30, 70 },
		{ "inversed, nothing to place, the offset dropped", waveform::from_period(100ns, 0ns, 5ns).inversed(), 100, 0,
		  0 },
		{ "off", waveform::off(), 0, 0, 0 },
		{ "from C", waveform::from_c({ 3, 2, 1 }), 3, 2, 1 },
	};
	// clang-format on
	for (const row &r : rows) {
		SCOPED_TRACE(r.name);
		EXPECT_EQ(r.got.period().count(), r.period);
		EXPECT_EQ(r.got.duty().count(), r.duty);
		EXPECT_EQ(r.got.offset().count(), r.offset);
		const pwm_waveform c = r.got.to_c();
		EXPECT_EQ(c.period_length_ns, static_cast<uint64_t>(r.period));
		EXPECT_EQ(c.duty_length_ns, static_cast<uint64_t>(r.duty));
		EXPECT_EQ(c.duty_offset_ns, static_cast<uint64_t>(r.offset));
	}
}

TEST(Waveform, BuildersRefuseWhatNoWaveformIs)
{
	enum kind { invalid, out_of_range };
	struct row {
		const char *name;
		std::function<waveform()> make;
		kind refusal;
		const char *what;
	};
	const double nan = std::numeric_limits<double>::quiet_NaN();
	const double inf = std::numeric_limits<double>::infinity();
	using dsec = std::chrono::duration<double>;
	using halves_ns = std::chrono::duration<uint64_t, std::ratio<1, 2000000000>>;
	// clang-format off
	const row rows[] = {
		{ "hours::max()", [] { return waveform::from_period(std::chrono::hours::max(), 0ns); }, out_of_range,
		  "quorvin::waveform: period is past 2^63 - 1 ns" },
		{ "10^10 s", [] { return waveform::from_period(1s, std::chrono::seconds(10'000'000'000)); }, out_of_range,
		  "quorvin::waveform: pulse is past 2^63 - 1 ns" },
		{ "2562048 h", [] { return waveform::from_period(std::chrono::hours(2562048), 0ns); }, out_of_range, nullptr },
		{ "2^64 - 1 half ns: the half rounds past", [=] { return waveform::from_period(
			halves_ns(std::numeric_limits<uint64_t>::max()), 0ns); }, out_of_range, nullptr },
		{ "2^64 - 1 unsigned ns", [] { return waveform::from_period(
			std::chrono::duration<uint64_t, std::nano>(std::numeric_limits<uint64_t>::max()), 0ns); },
		  out_of_range, nullptr },
		{ "a negative period", [] { return waveform::from_period(-1ms, 0ns); }, invalid,
		  "quorvin::waveform: period is negative" },
		{ "a negative pulse", [] { return waveform::from_period(1ms, -1ns); }, invalid, nullptr },
		{ "a negative offset", [] { return waveform::from_period(1ms, 1ns, -1us); }, invalid,
		  "quorvin::waveform: offset is negative" },
		{ "a NaN period", [=] { return waveform::from_period(dsec(nan), 0ns); }, invalid,
		  "quorvin::waveform: period is not a number" },
		{ "an infinite pulse", [=] { return waveform::from_period(1s, dsec(inf)); }, out_of_range, nullptr },
		{ "a pulse of minus infinity", [=] { return waveform::from_period(1s, dsec(-inf)); }, invalid, nullptr },
		{ "9.3e9 s", [] { return waveform::from_period(dsec(9.3e9), 0ns); }, out_of_range, nullptr },
		{ "with_duty negative", [] { return waveform::from_period(1ms, 0ns).with_duty(-1ns); }, invalid,
		  "quorvin::waveform: duty is negative" },
		{ "0 Hz", [] { return waveform::from_frequency(0, 0.5); }, invalid,
		  "quorvin::waveform: frequency is not above 0 Hz" },
		{ "-1 Hz", [] { return waveform::from_frequency(-1, 0.5); }, invalid, nullptr },
		{ "NaN Hz", [=] { return waveform::from_frequency(nan, 0.5); }, invalid,
		  "quorvin::waveform: frequency is not a number" },
		{ "3 GHz: the period rounds to 0", [] { return waveform::from_frequency(3e9, 0.5); }, out_of_range,
		  "quorvin::waveform: frequency is so high that the period rounds to 0 ns" },
		{ "infinite Hz", [=] { return waveform::from_frequency(inf, 0.5); }, out_of_range, nullptr },
		{ "1e-11 Hz: the period passes 2^63 - 1", [] { return waveform::from_frequency(1e-11, 0.5); },
		  out_of_range, "quorvin::waveform: frequency is so low that the period passes 2^63 - 1 ns" },
		{ "ratio -0.1", [] { return waveform::from_frequency(1000, -0.1); }, invalid,
		  "quorvin::waveform: duty ratio is not within 0 to 1" },
		{ "ratio 1.1", [] { return waveform::from_frequency(1000, 1.1); }, invalid, nullptr },
		{ "ratio NaN", [=] { return waveform::from_frequency(1000, nan); }, invalid, nullptr },
		{ "from C, past 2^63 - 1", [] { return waveform::from_c({ 1ULL << 63, 0, 0 }); }, out_of_range, nullptr },
		{ "from C, an offset past", [] { return waveform::from_c({ 1, 0, ~0ULL }); }, out_of_range, nullptr },
	};
	// clang-format on
	for (const row &r : rows) {
		SCOPED_TRACE(r.name);
		try {
			const waveform w = r.make();
			ADD_FAILURE() << "made " << w;
		} catch (const std::out_of_range &e) {
			EXPECT_EQ(r.refusal, out_of_range) << e.what();
			if (r.what != nullptr) {
				EXPECT_STREQ(e.what(), r.what);
			}
		} catch (const std::invalid_argument &e) {
			EXPECT_EQ(r.refusal, invalid) << e.what();
			if (r.what != nullptr) {
				EXPECT_STREQ(e.what(), r.what);
			}
		}
	}
}

TEST(Waveform, ComparesAndPrints)
{
	const waveform a = waveform::from_period(20ms, 1500us);
	EXPECT_TRUE(a == waveform::from_frequency(50, 0.075));
	EXPECT_FALSE(a != waveform::from_frequency(50, 0.075));
	for (const waveform &b : { a.with_duty(1ms), waveform::from_period(21ms, 1500us), a.inversed() }) {
		EXPECT_FALSE(a == b) << b;
		EXPECT_TRUE(a != b) << b;
	}
	struct row {
		std::string got;
		const char *want;
	};
	const quorvin::channel_info kernel_fan{ 1, quorvin::holder::kernel, "pwm-fan",
						waveform::from_period(30000ns, 10000ns) };
	const quorvin::channel_info unknown{ 3, quorvin::holder::unknown, std::nullopt, std::nullopt };
	const quorvin::channel_info free_off{ 0, quorvin::holder::none, std::nullopt, waveform::off() };
	const row rows[] = {
		{ text_of([&](std::ostream &os) { os << a; }), "period 20000000 ns, duty 1500000 ns" },
		{ text_of([&](std::ostream &os) { os << a.inversed(); }),
		  "period 20000000 ns, duty 1500000 ns, offset 18500000 ns" },
		{ text_of([](std::ostream &os) { os << waveform::off(); }), "off" },
		{ text_of([](std::ostream &os) { os << waveform::from_period(0ns, 5ns); }),
		  "period 0 ns, duty 5 ns" },
		{ text_of([&](std::ostream &os) { os << kernel_fan; }),
		  "channel 1, kernel \"pwm-fan\", period 30000 ns, duty 10000 ns" },
		{ text_of([&](std::ostream &os) { os << unknown; }), "channel 3, unknown, waveform unknown" },
		{ text_of([&](std::ostream &os) { os << free_off; }), "channel 0, free, off" },
		{ text_of([](std::ostream &os) {
			  os << quorvin::holder::sysfs << ' ' << quorvin::holder::device;
		  }),
		  "sysfs device" },
	};
	for (const row &r : rows)
		EXPECT_EQ(r.got, r.want);
}

// ---- Refusals: the library's errno, and a message naming chip and channel ----

TEST_F(CxxApiTest, RefusalsCarryTheErrnoAndNameTheChannel)
{
	struct row {
		const char *name;
		std::function<void()> act;
		std::errc err;
		const char *what;
	};
	const auto on_channel = [](unsigned int n, const std::function<void(quorvin::channel &)> &act) {
		return [n, act] {
			quorvin::chip chip(0);
			quorvin::channel ch = chip.channel(n);
			act(ch);
		};
	};
	// clang-format off
	const row rows[] = {
		{ "no such chip", [] { quorvin::chip c(5); }, std::errc::no_such_file_or_directory,
		  "cannot open pwmchip5: No such file or directory" },
		{ "no such name", [] { quorvin::chip c("4ff00000.pwm"); }, std::errc::no_such_file_or_directory,
		  "cannot open \"4ff00000.pwm\": No such file or directory" },
		{ "an empty name", [] { quorvin::chip c(""); }, std::errc::invalid_argument,
		  "cannot open \"\": Invalid argument" },
		{ "a channel beyond the count", [] { quorvin::chip c(0); (void)c.channel(4); }, std::errc::invalid_argument,
		  "cannot take pwmchip0 channel 4: Invalid argument" },
		{ "a channel another file holds", [] { chip_state.holder[3] = 99; quorvin::chip c(0); (void)c.channel(3); },
		  std::errc::device_or_resource_busy, "cannot take pwmchip0 channel 3: Device or resource busy" },
		{ "a channel this chip's object holds", [] { quorvin::chip c(0); auto a = c.channel(1); (void)c.channel(1); },
		  std::errc::device_or_resource_busy, "cannot take pwmchip0 channel 1: Device or resource busy" },
		{ "exported while held through the device", [] { quorvin::chip c(0); auto a = c.channel(2);
		  (void)c.export_channel(2); }, std::errc::device_or_resource_busy,
		  "cannot export pwmchip0 channel 2: Device or resource busy" },
		{ "a duty above the period", on_channel(2, [](quorvin::channel &ch) { ch.set(waveform::from_period(1000ns, 1001ns)); }),
		  std::errc::invalid_argument, "cannot set pwmchip0 channel 2 to period 1000 ns, duty 1001 ns: Invalid argument" },
		{ "a period below the shortest", on_channel(2, [](quorvin::channel &ch) { ch.set(waveform::from_period(500ns, 0ns)); }),
		  std::errc::invalid_argument, "cannot set pwmchip0 channel 2 to period 500 ns, duty 0 ns: Invalid argument" },
		{ "an offset the hardware drops", on_channel(2, [](quorvin::channel &ch) {
			ch.set(waveform::from_period(50000ns, 1000ns, 20000ns)); }), std::errc::operation_not_supported,
		  "cannot set pwmchip0 channel 2 to period 50000 ns, duty 1000 ns, offset 20000 ns: Operation not supported" },
		{ "a set failing halfway", on_channel(2, [](quorvin::channel &ch) {
			ch.set(waveform::from_period(50000ns, 20000ns)); chip_state.sets_failing_midway = 1;
			ch.set(waveform::from_period(80000ns, 10000ns)); }), std::errc::io_error,
		  "cannot set pwmchip0 channel 2 to period 80000 ns, duty 10000 ns: Input/output error" },
		{ "rounding what set refuses", on_channel(2, [](quorvin::channel &ch) {
			(void)ch.round(waveform::from_period(1000ns, 1001ns)); }), std::errc::invalid_argument,
		  "cannot round period 1000 ns, duty 1001 ns on pwmchip0 channel 2: Invalid argument" },
		{ "a driver that cannot read back", on_channel(1, [](quorvin::channel &ch) {
			chip_state.no_read_back = true; (void)ch.hardware(); }), std::errc::no_message_available,
		  "cannot read the hardware waveform of pwmchip0 channel 1: No data available" },
		{ "described beyond the count", [] { quorvin::chip c(0); (void)c.info(4); }, std::errc::invalid_argument,
		  "cannot describe pwmchip0 channel 4: Invalid argument" },
		{ "no channel count to read", [] { quorvin::chip c(0); fs::remove_all(std::string(getenv("QUORVIN_SYSFS_DIR")) + "/pwmchip0");
		  (void)c.npwm(); }, std::errc::no_such_file_or_directory,
		  "cannot read the channel count of pwmchip0: No such file or directory" },
		{ "the chips cannot be listed", [] { setenv("QUORVIN_SYSFS_DIR", "/dev/null", 1);
		  for (unsigned int n : quorvin::chip_numbers()) ADD_FAILURE() << n; }, std::errc::not_a_directory,
		  "cannot list the PWM chips: Not a directory" },
	};
	// clang-format on
	const std::string sys = getenv("QUORVIN_SYSFS_DIR");
	for (const row &r : rows) {
		SCOPED_TRACE(r.name);
		chip_state = shared_counter_cdev_model();
		fs::create_directories(sys + "/pwmchip0");
		std::ofstream(sys + "/pwmchip0/npwm") << "4\n";
		setenv("QUORVIN_SYSFS_DIR", sys.c_str(), 1);
		try {
			r.act();
			ADD_FAILURE() << "not refused";
		} catch (const std::system_error &e) {
			EXPECT_EQ(e.code(), std::make_error_code(r.err)) << e.what();
			EXPECT_EQ(&e.code().category(), &std::generic_category());
			EXPECT_STREQ(e.what(), r.what);
		}
	}
}

TEST_F(CxxApiTest, RefusalsThroughSysfsToo)
{
	tree();
	const std::string attr = std::string(getenv("QUORVIN_SYSFS_DIR")) + "/pwmchip0/pwm0/";
	quorvin::chip chip(0);
	quorvin::channel ch = chip.channel(0);
	ch.set(waveform::from_period(1000ns, 500ns));
	struct row {
		const char *name;
		std::function<void()> act;
		std::errc err;
		const char *what;
	};
	// clang-format off
	const row rows[] = {
		{ "the kernel cannot be asked how it rounds", [&] { (void)ch.round(waveform::from_period(1000ns, 500ns)); },
		  std::errc::operation_not_supported,
		  "cannot round period 1000 ns, duty 500 ns on pwmchip0 channel 0: Operation not supported" },
		{ "no debugfs listing", [&] { (void)ch.hardware(); }, std::errc::no_such_file_or_directory,
		  "cannot read the hardware waveform of pwmchip0 channel 0: No such file or directory" },
		{ "switching off, refused", [&] { pwrite_fails = EIO; ch.disable(); }, std::errc::io_error,
		  "cannot switch pwmchip0 channel 0 off: Input/output error" },
		{ "a period this type cannot hold", [&] {
			std::ofstream(attr + "period") << "18446744073709551615\n";
			std::ofstream(attr + "duty_cycle") << "9223372036854775808\n";
			(void)ch.get(); }, std::errc::value_too_large,
		  "cannot read the waveform of pwmchip0 channel 0: Value too large for defined data type" },
	};
	// clang-format on
	for (const row &r : rows) {
		SCOPED_TRACE(r.name);
		try {
			r.act();
			ADD_FAILURE() << "not refused";
		} catch (const std::system_error &e) {
			EXPECT_EQ(e.code(), std::make_error_code(r.err)) << e.what();
			EXPECT_STREQ(e.what(), r.what);
		}
		pwrite_fails = 0;
	}
}

// ---- The set path: one call of the library, no allocation, the same errno without throwing ----

TEST_F(CxxApiTest, EachSetIsOneCallAndNoAllocation)
{
	for (const bool through_sysfs : { false, true }) {
		SCOPED_TRACE(through_sysfs ? "sysfs" : "device");
		if (through_sysfs)
			tree();
		quorvin::chip chip(0);
		quorvin::channel ch = chip.channel(1);
		const waveform base = waveform::from_period(50000ns, 500ns);
		ch.set(base);
		const int calls = set_calls;
		const int ioctls = chip_state.ioctls;
		const long allocated = allocations;
		for (int64_t duty = 1000; duty <= 50000; duty += 1000)
			ch.set(base.with_duty(std::chrono::nanoseconds(duty)));
		std::error_code failed;
		for (int64_t duty = 49000; duty >= 1000; duty -= 1000)
			failed = failed ? failed : ch.try_set(base.with_duty(std::chrono::nanoseconds(duty)));
		EXPECT_EQ(allocations - allocated, 0);
		EXPECT_FALSE(failed) << failed.message();
		EXPECT_EQ(set_calls - calls, 99);
		if (!through_sysfs) {
			EXPECT_EQ(chip_state.ioctls - ioctls, 99) << "a duty step, one ioctl";
		}
		EXPECT_EQ(ch.get(), base.with_duty(1us));
	}
}

TEST_F(CxxApiTest, TrySetGivesTheCodeThatSetThrows)
{
	struct row {
		waveform wf;
		std::errc err;
	};
	const row rows[] = {
		{ waveform::from_period(1000ns, 1001ns), std::errc::invalid_argument },
		{ waveform::from_period(50000ns, 1000ns, 20000ns), std::errc::operation_not_supported },
		{ waveform::from_period(500ns, 0ns), std::errc::invalid_argument },
	};
	quorvin::chip chip(0);
	quorvin::channel ch = chip.channel(2);
	for (const row &r : rows) {
		SCOPED_TRACE(text_of([&](std::ostream &os) { os << r.wf; }));
		const int calls = set_calls;
		EXPECT_EQ(ch.try_set(r.wf), std::make_error_code(r.err));
		EXPECT_EQ(set_calls - calls, 1);
		try {
			ch.set(r.wf);
			ADD_FAILURE() << "not refused";
		} catch (const std::system_error &e) {
			EXPECT_EQ(e.code(), std::make_error_code(r.err));
		}
	}
	EXPECT_FALSE(ch.try_set(waveform::from_period(40000ns, 0ns)));
	ch.release();
	const int calls = set_calls;
	EXPECT_EQ(ch.try_set(waveform::off()), std::make_error_code(std::errc::bad_file_descriptor));
	EXPECT_EQ(set_calls, calls) << "nothing reached the library";
}

// ---- Lifetimes: release before the chip, channels of a closed or moved chip ----

TEST_F(CxxApiTest, ReleaseBeforeTheChipFreesTheChannelForAnother)
{
	quorvin::chip chip(0);
	{
		quorvin::channel ch = chip.channel(1);
		ch.set(waveform::from_period(40000ns, 10000ns));
		EXPECT_NE(chip_state.holder[1], cdev_model::nobody);
		quorvin::chip other(0);
		EXPECT_THROW((void)other.channel(1), std::system_error) << "held here";
	}
	EXPECT_EQ(chip_state.holder[1], cdev_model::nobody) << "the channel's object gave it back";
	EXPECT_TRUE(chip) << "the chip stays open";
	{
		quorvin::chip other(0);
		quorvin::channel taken = other.channel(1);
		EXPECT_TRUE(taken) << "free for another chip handle";
		taken.set(waveform::from_period(40000ns, 20000ns));
		EXPECT_THROW((void)chip.channel(1), std::system_error) << "now held by the other";
	}

	quorvin::channel ch = chip.channel(1);
	ch.set(waveform::from_period(40000ns, 30000ns));
	ch.release();
	EXPECT_EQ(chip_state.holder[1], cdev_model::nobody);
	EXPECT_EQ(chip_state.hw[1].duty_length_ns, 30000U) << "the output as the driver leaves it";
	EXPECT_FALSE(ch);
	EXPECT_EQ(ch.number(), 1U);
	ch.release(); // twice: nothing
	quorvin::channel again = chip.channel(1);
	EXPECT_NE(chip_state.holder[1], cdev_model::nobody) << "taken again through the same chip";
	again.set(waveform::from_period(40000ns, 20000ns));
	EXPECT_EQ(again.get(), waveform::from_period(40000ns, 20000ns));

	ch = std::move(again); // gives back nothing: ch held nothing
	EXPECT_TRUE(ch);
	quorvin::channel two = chip.channel(2);
	ch = std::move(two); // gives back channel 1, takes 2
	EXPECT_EQ(chip_state.holder[1], cdev_model::nobody);
	EXPECT_NE(chip_state.holder[2], cdev_model::nobody);
	EXPECT_EQ(ch.number(), 2U);
}

TEST_F(CxxApiTest, AnExportedChannelIsTakenThroughSysfs)
{
	ASSERT_EQ(std::system( // NOLINT(cert-env33-c): runs the project's own script
			  ("'" MAKE_PWM_TREE "' '" + root_ + "/sys' 4").c_str()),
		  0);
	quorvin::chip chip(0);
	const int requests = chip_state.calls[_IOC_NR(PWM_IOCTL_REQUEST)];
	quorvin::channel ch = chip.export_channel(1);
	ch.set(waveform::from_period(40000ns, 14000ns));
	EXPECT_EQ(chip_state.calls[_IOC_NR(PWM_IOCTL_REQUEST)], requests) << "nothing asked of the device";
	std::string duty;
	std::getline(std::ifstream(root_ + "/sys/pwmchip0/pwm1/duty_cycle"), duty);
	EXPECT_EQ(duty, "14000");
	EXPECT_THROW((void)ch.round(waveform::from_period(40000ns, 14000ns)), std::system_error)
		<< "through sysfs the kernel cannot be asked";
}

TEST_F(CxxApiTest, ChannelsSeeTheirChipClosedOrMoved)
{
	std::optional<quorvin::chip> chip(std::in_place, 0U);
	quorvin::channel ch = chip->channel(2);
	ch.set(waveform::from_period(40000ns, 10000ns));

	quorvin::chip moved(std::move(*chip));
	EXPECT_FALSE(*chip);
	ch.set(waveform::from_period(40000ns, 20000ns));
	EXPECT_EQ(chip_state.hw[2].duty_length_ns, 20000U) << "the channel follows its chip";
	chip.reset(); // the moved-from object: closes nothing
	EXPECT_NE(chip_state.holder[2], cdev_model::nobody);

	quorvin::chip second(0);
	quorvin::chip &alias = moved;
	moved = std::move(alias); // onto itself: nothing
	EXPECT_TRUE(moved);
	moved = std::move(second); // closes the chip it had, takes the other
	EXPECT_EQ(chip_state.holder[2], cdev_model::nobody) << "closed once, its channel with it";
	EXPECT_FALSE(ch);
	try {
		ch.set(waveform::from_period(40000ns, 30000ns));
		ADD_FAILURE() << "used a channel of a closed chip";
	} catch (const quorvin::closed_error &e) {
		EXPECT_STREQ(e.what(), "pwmchip0 channel 2: used after its chip was closed");
	}
	EXPECT_EQ(chip_state.hw[2].duty_length_ns, 20000U);
	quorvin::channel kept = moved.channel(2);
	EXPECT_TRUE(kept) << "the closed chip's hold is gone";
	moved.close();
	moved.close(); // twice: nothing
	EXPECT_EQ(chip_state.holder[2], cdev_model::nobody);
	// ch and kept go after their chips closed: nothing to give back.
}

TEST_F(CxxApiTest, ObjectsThatHoldNothingThrowTheMisuseError)
{
	const char *const no_chip = "quorvin::chip: owns no chip (moved from, or made empty)";
	const char *const closed_chip = "pwmchip0: used after it was closed";
	const char *const no_channel = "quorvin::channel: holds no channel (moved from, or made empty)";
	const char *const released = "pwmchip0 channel 1: used after it was released";
	const char *const chip_gone = "pwmchip0 channel 1: used after its chip was closed";

	quorvin::chip open(0);
	quorvin::chip moved_to(std::move(open));
	quorvin::chip closed(0);
	closed.close();
	quorvin::chip never;
	// Used after the move on purpose: a moved-from chip must refuse.
	quorvin::chip *const chips[] = { &open, &closed, &never }; // NOLINT(bugprone-use-after-move)
	const char *const chip_errors[] = { no_chip, closed_chip, no_chip };

	quorvin::channel held = moved_to.channel(1);
	quorvin::channel moved_channel(std::move(held));
	moved_channel.release();
	quorvin::chip short_lived(0);
	quorvin::channel orphan = short_lived.channel(1);
	short_lived = quorvin::chip();
	quorvin::channel empty;
	// NOLINTNEXTLINE(bugprone-use-after-move): a moved-from channel must refuse
	quorvin::channel *const channels[] = { &held, &moved_channel, &orphan, &empty };
	const char *const channel_errors[] = { no_channel, released, chip_gone, no_channel };

	const std::function<void(quorvin::chip &)> chip_calls[] = {
		[](quorvin::chip &c) { (void)c.npwm(); },
		[](quorvin::chip &c) { (void)c.device_name(); },
		[](quorvin::chip &c) { (void)c.driver_name(); },
		[](quorvin::chip &c) { (void)c.has_device_node(); },
		[](quorvin::chip &c) { (void)c.channel(0); },
		[](quorvin::chip &c) { (void)c.export_channel(0); },
		[](quorvin::chip &c) { (void)c.info(0); },
	};
	const std::function<void(quorvin::channel &)> channel_calls[] = {
		[](quorvin::channel &c) { c.set(waveform::from_period(40000ns, 0ns)); },
		[](quorvin::channel &c) { c.disable(); },
		[](quorvin::channel &c) { (void)c.get(); },
		[](quorvin::channel &c) { (void)c.hardware(); },
		[](quorvin::channel &c) { (void)c.round(waveform::off()); },
		[](quorvin::channel &c) { (void)c.info(); },
	};
	const int calls = set_calls;
	for (size_t i = 0; i < std::size(chips); ++i) {
		EXPECT_FALSE(*chips[i]);
		EXPECT_EQ(chips[i]->native_handle(), nullptr);
		chips[i]->close();
		for (size_t k = 0; k < std::size(chip_calls); ++k) {
			SCOPED_TRACE("chip " + std::to_string(i) + ", call " + std::to_string(k));
			try {
				chip_calls[k](*chips[i]);
				ADD_FAILURE() << "not refused";
			} catch (const quorvin::closed_error &e) {
				EXPECT_STREQ(e.what(), chip_errors[i]);
			}
		}
	}
	for (size_t i = 0; i < std::size(channels); ++i) {
		EXPECT_FALSE(*channels[i]);
		EXPECT_EQ(channels[i]->native_handle(), nullptr);
		EXPECT_EQ(channels[i]->try_set(waveform::off()),
			  std::make_error_code(std::errc::bad_file_descriptor));
		channels[i]->release();
		for (size_t k = 0; k < std::size(channel_calls); ++k) {
			SCOPED_TRACE("channel " + std::to_string(i) + ", call " + std::to_string(k));
			try {
				channel_calls[k](*channels[i]);
				ADD_FAILURE() << "not refused";
			} catch (const quorvin::closed_error &e) {
				EXPECT_STREQ(e.what(), channel_errors[i]);
			}
		}
	}
	EXPECT_EQ(set_calls, calls) << "nothing reached the library";
	EXPECT_THROW((void)held.chip_number(), quorvin::closed_error);
	EXPECT_EQ(orphan.chip_number(), 0U);
}

// ---- What a chip and a channel say about themselves ----

TEST_F(CxxApiTest, ChipsChannelsAndInfoDescribeThemselves)
{
	quorvin::chip device(0);
	EXPECT_EQ(device.number(), 0U);
	EXPECT_EQ(device.npwm(), 4U);
	EXPECT_TRUE(device.has_device_node());
	EXPECT_EQ(device.device_name(), std::nullopt) << "no parent device shown";
	EXPECT_EQ(device.driver_name(), std::nullopt);
	EXPECT_NE(device.native_handle(), nullptr);
	quorvin::channel ch = device.channel(2);
	ch.set(waveform::from_period(50000ns, 21500ns));
	EXPECT_EQ(ch.get(), waveform::from_period(50000ns, 21000ns)) << "what the hardware runs";
	EXPECT_EQ(ch.hardware(), waveform::from_period(50000ns, 21000ns));
	EXPECT_EQ(ch.round(waveform::from_period(50500ns, 1500ns)), waveform::from_period(50000ns, 1000ns));
	const quorvin::channel_info own = ch.info();
	EXPECT_EQ(own.channel, 2U);
	EXPECT_EQ(own.holder, quorvin::holder::device);
	EXPECT_EQ(own.label, std::nullopt);
	EXPECT_EQ(own.waveform, waveform::from_period(50000ns, 21000ns));
	const quorvin::channel_info other = device.info(0);
	EXPECT_EQ(other.holder, quorvin::holder::unknown) << "no debugfs listing to tell";
	EXPECT_EQ(other.waveform, std::nullopt);
	std::ofstream(getenv("QUORVIN_DEBUGFS_PWM"))
		<< "0: platform/4ff00000.pwm, npwm: 4\n"
		   " pwm-0   (pwm-fan             ): requested enabled\n"
		   "  actual configuration:     enabled, 10000/30000 ns, normal polarity\n";
	const quorvin::channel_info fan = device.info(0);
	EXPECT_EQ(fan.holder, quorvin::holder::kernel);
	EXPECT_EQ(fan.label, std::optional<std::string>("pwm-fan"));
	EXPECT_EQ(fan.waveform, waveform::from_period(30000ns, 10000ns));

	// A parent device with a driver, seen through sysfs.
	const std::string sys = getenv("QUORVIN_SYSFS_DIR");
	fs::create_directories(root_ + "/devices/4ff00000.pwm");
	fs::create_directories(root_ + "/drivers/pwm-mediatek");
	fs::create_symlink(root_ + "/drivers/pwm-mediatek", root_ + "/devices/4ff00000.pwm/driver");
	fs::create_symlink(root_ + "/devices/4ff00000.pwm", sys + "/pwmchip0/device");
	quorvin::chip named("4ff00000.pwm");
	EXPECT_EQ(named.device_name(), std::optional<std::string>("4ff00000.pwm"));
	EXPECT_EQ(named.driver_name(), std::optional<std::string>("pwm-mediatek"));

	quorvin::channel moved(std::move(ch));
	struct row {
		std::string got;
		const char *want;
	};
	const row rows[] = {
		{ text_of([&](std::ostream &os) { os << device; }),
		  "pwmchip0 (no parent device), 4 channels, device node" },
		{ text_of([&](std::ostream &os) { os << named; }),
		  "pwmchip0 (4ff00000.pwm), 4 channels, device node" },
		{ text_of([&](std::ostream &os) { os << moved; }), "pwmchip0 channel 2" },
		{ text_of([&](std::ostream &os) { os << ch; }), // NOLINT(bugprone-use-after-move): on purpose
		  "channel (moved from)" },
		{ text_of([&](std::ostream &os) { os << device.info(2); }),
		  "channel 2, device, period 50000 ns, duty 21000 ns" },
		{ text_of([&](std::ostream &os) {
			  moved.release();
			  os << moved;
		  }),
		  "pwmchip0 channel 2 (released)" },
		{ text_of([&](std::ostream &os) {
			  quorvin::channel one = device.channel(1);
			  device.close();
			  os << one << "; " << device;
		  }),
		  "pwmchip0 channel 1 (chip closed); pwmchip0 (closed)" },
		{ text_of([&](std::ostream &os) {
			  quorvin::chip to(std::move(named));
			  os << named; // NOLINT(bugprone-use-after-move): on purpose
		  }),
		  "chip (moved from)" },
	};
	for (const row &r : rows)
		EXPECT_EQ(r.got, r.want);
}

TEST_F(CxxApiTest, ChipNumbersAreListedNotOpened)
{
	const std::string sys = getenv("QUORVIN_SYSFS_DIR");
	fs::create_directories(sys + "/pwmchip12");
	fs::create_directories(sys + "/pwmchip1");
	fs::create_directories(sys + "/pwmchip3"); // no npwm: it would not open
	fs::create_directories(sys + "/other");
	std::string seen;
	for (unsigned int n : quorvin::chip_numbers())
		seen += std::to_string(n) + " ";
	EXPECT_EQ(seen, "0 1 3 12 ");
	auto it = quorvin::chip_numbers().begin();
	EXPECT_EQ(*it++, 0U);
	EXPECT_EQ(*it, 1U);
	EXPECT_THROW(quorvin::chip c(3), std::system_error);

	setenv("QUORVIN_SYSFS_DIR", (root_ + "/none").c_str(), 1);
	EXPECT_TRUE(quorvin::chip_numbers().begin() == quorvin::chip_numbers().end())
		<< "no class folder: no chips";
}

} // namespace
