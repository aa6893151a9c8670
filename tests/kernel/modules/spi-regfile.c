// SPDX-License-Identifier: GPL-2.0-only
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
/*
 * A test-only SPI controller described by the device tree: a platform device
 * whose node's children are SPI devices (by chip select), each a file of 128
 * registers spoken to in 16-bit frames, so that a driver of such a chip
 * binds without it.
 *
 * A frame is W(1) ADDRESS(7) DATA(8), most significant bit first. W set
 * writes DATA to the register; W clear reads it, and the answer (the
 * register, 14 bits) comes in the next frame, as the chip shifts it out
 * while the next frame goes in. DATA's top bit tells a control register
 * read (set) from a diagnosis read (clear, answered 0: this file keeps no
 * diagnosis). The answer waits in the chip across chip selects, as a chip
 * that takes one frame per select (SPI_CS_WORD) keeps it.
 *
 * A child node may give its registers at start (`quorvin-test,regs`:
 * register, value pairs of bytes).
 */
#include <linux/module.h>
#include <linux/of.h>
#include <linux/platform_device.h>
#include <linux/slab.h>
#include <linux/spi/spi.h>

#define REGFILE_CHIPSELECTS 4
#define REGFILE_FRAME_WRITE 0x8000
#define REGFILE_FRAME_CTRL_READ 0x0080

struct regfile_chip {
	u16 regs[128];
	u16 answer; /* shifted out with the next frame */
};

struct regfile {
	struct regfile_chip chips[REGFILE_CHIPSELECTS];
};

static u16 regfile_frame(struct regfile_chip *chip, u16 in)
{
	const u16 out = chip->answer;
	const u8 reg = (in >> 8) & 0x7f;

	if (in & REGFILE_FRAME_WRITE) {
		chip->regs[reg] = in & 0xff;
		chip->answer = 0;
	} else {
		chip->answer = (in & REGFILE_FRAME_CTRL_READ) ? chip->regs[reg] & 0x3fff : 0;
	}
	return out;
}

static int regfile_transfer_one(struct spi_controller *ctlr, struct spi_device *spi, struct spi_transfer *t)
{
	struct regfile *rf = spi_controller_get_devdata(ctlr);
	struct regfile_chip *chip = &rf->chips[spi_get_chipselect(spi, 0)];
	const u16 *tx = t->tx_buf;
	u16 *rx = t->rx_buf;
	unsigned int i;

	if (t->bits_per_word != 16 || t->len % 2)
		return -EINVAL;
	for (i = 0; i < t->len / 2; i++) {
		const u16 out = regfile_frame(chip, tx ? tx[i] : 0);

		if (rx)
			rx[i] = out;
	}
	return 0;
}

/* Reads the register, value pairs of a child node (absent: none). */
static int regfile_pairs(struct device *dev, struct device_node *np, u16 *regs)
{
	int n, i, ret;
	u8 *pairs;

	n = of_property_count_u8_elems(np, "quorvin-test,regs");
	if (n == -EINVAL)
		return 0;
	if (n < 0 || n % 2)
		return dev_err_probe(dev, -EINVAL, "%pOF: quorvin-test,regs is not register, value pairs\n",
				     np);
	pairs = kmalloc(n, GFP_KERNEL);
	if (!pairs)
		return -ENOMEM;
	ret = of_property_read_u8_array(np, "quorvin-test,regs", pairs, n);
	for (i = 0; !ret && i < n; i += 2) {
		if (pairs[i] > 0x7f) {
			ret = dev_err_probe(dev, -EINVAL, "%pOF: register 0x%02x beyond 0x7f\n", np,
					    pairs[i]);
			break;
		}
		regs[pairs[i]] = pairs[i + 1];
	}
	kfree(pairs);
	return ret;
}

static int regfile_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct spi_controller *ctlr;
	struct regfile *rf;
	u32 cs;
	int ret;

	ctlr = devm_spi_alloc_host(dev, sizeof(*rf));
	if (!ctlr)
		return -ENOMEM;
	rf = spi_controller_get_devdata(ctlr);
	for_each_available_child_of_node_scoped(dev->of_node, np)
	{
		if (of_property_read_u32(np, "reg", &cs) || cs >= REGFILE_CHIPSELECTS)
			return dev_err_probe(dev, -EINVAL, "%pOF: no chip select below %d in reg\n", np,
					     REGFILE_CHIPSELECTS);
		ret = regfile_pairs(dev, np, rf->chips[cs].regs);
		if (ret)
			return ret;
	}

	ctlr->dev.of_node = dev->of_node;
	ctlr->num_chipselect = REGFILE_CHIPSELECTS;
	ctlr->bits_per_word_mask = SPI_BPW_MASK(16);
	/* Each word a frame of its own, as the chip select toggles per word. */
	ctlr->mode_bits = SPI_CPOL | SPI_CPHA | SPI_CS_HIGH | SPI_CS_WORD;
	ctlr->transfer_one = regfile_transfer_one;
	/* Makes a device of each child node (the SPI core reads them). */
	return devm_spi_register_controller(dev, ctlr);
}

static const struct of_device_id regfile_of_match[] = { { .compatible = "quorvin-test,spi-regfile" }, {} };
MODULE_DEVICE_TABLE(of, regfile_of_match);

static struct platform_driver regfile_driver = {
	.probe = regfile_probe,
	.driver = {
		.name = "spi-regfile",
		.of_match_table = regfile_of_match,
	},
};
module_platform_driver(regfile_driver);

MODULE_DESCRIPTION("Test SPI controller of 16-bit frame register files, described by the device tree");
MODULE_LICENSE("GPL");
