// SPDX-License-Identifier: GPL-2.0-only
// SPDX-FileCopyrightText: 2026 The pwm-sweep authors
/*
 * A test-only I2C bus described by the device tree: a platform device whose
 * node's children are I2C devices, each a file of 256 byte registers, so that
 * drivers which find their chip (and its children) from the device tree bind
 * without the chip.
 *
 * Each transfer is register pointer then data: a write message's first byte
 * sets the device's pointer, its further bytes are written from there; a
 * read message reads from the pointer. The pointer moves on with every byte
 * and wraps at 256. The I2C core makes the SMBus byte, byte data, word data
 * (little-endian) and I2C block transfers of these.
 *
 * A child node may give its registers at start (`quorvin-test,regs`: register,
 * value pairs of bytes) and bits that the device clears once written
 * (`quorvin-test,self-clearing`: register, mask pairs), e.g. a reset bit that
 * a probe waits to read back as 0.
 */
#include <linux/i2c.h>
#include <linux/module.h>
#include <linux/of.h>
#include <linux/platform_device.h>
#include <linux/slab.h>

#define REGFILE_MAX_CHIPS 16

struct regfile_chip {
	u16 addr;
	u8 ptr;
	u8 regs[256];
	u8 self_clearing[256];
};

struct regfile {
	struct i2c_adapter adap;
	unsigned int n;
	struct regfile_chip chips[REGFILE_MAX_CHIPS];
};

static struct regfile_chip *regfile_chip(struct regfile *rf, u16 addr)
{
	unsigned int i;

	for (i = 0; i < rf->n; i++)
		if (rf->chips[i].addr == addr)
			return &rf->chips[i];
	return NULL;
}

static void regfile_write(struct regfile_chip *chip, u8 val)
{
	chip->regs[chip->ptr] = val & ~chip->self_clearing[chip->ptr];
	chip->ptr++;
}

static int regfile_xfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num)
{
	struct regfile *rf = i2c_get_adapdata(adap);
	struct regfile_chip *chip;
	int i;
	u16 j;

	for (i = 0; i < num; i++) {
		struct i2c_msg *m = &msgs[i];

		if (m->flags & (I2C_M_TEN | I2C_M_RECV_LEN))
			return -EOPNOTSUPP;
		chip = regfile_chip(rf, m->addr);
		if (!chip)
			return -ENXIO;
		if (m->flags & I2C_M_RD) {
			for (j = 0; j < m->len; j++)
				m->buf[j] = chip->regs[chip->ptr++];
		} else if (m->len) {
			chip->ptr = m->buf[0];
			for (j = 1; j < m->len; j++)
				regfile_write(chip, m->buf[j]);
		}
	}
	return num;
}

static u32 regfile_functionality(struct i2c_adapter *adap)
{
	return I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA |
		I2C_FUNC_SMBUS_WORD_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;
}

static const struct i2c_algorithm regfile_algo = {
	.xfer = regfile_xfer,
	.functionality = regfile_functionality,
};

/* Reads a property of register, byte pairs into table (absent: none). */
static int regfile_pairs(struct device *dev, struct device_node *np, const char *prop, u8 *table)
{
	int n, i, ret;
	u8 *pairs;

	n = of_property_count_u8_elems(np, prop);
	if (n == -EINVAL)
		return 0;
	if (n < 0 || n % 2)
		return dev_err_probe(dev, -EINVAL, "%pOF: %s is not register, value pairs of bytes\n", np,
				     prop);
	pairs = kmalloc(n, GFP_KERNEL);
	if (!pairs)
		return -ENOMEM;
	ret = of_property_read_u8_array(np, prop, pairs, n);
	for (i = 0; !ret && i < n; i += 2)
		table[pairs[i]] = pairs[i + 1];
	kfree(pairs);
	return ret;
}

static int regfile_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct regfile *rf;
	struct regfile_chip *chip;
	u32 addr;
	int ret;

	rf = devm_kzalloc(dev, sizeof(*rf), GFP_KERNEL);
	if (!rf)
		return -ENOMEM;
	for_each_available_child_of_node_scoped(dev->of_node, np)
	{
		if (of_property_read_u32(np, "reg", &addr) || addr > 0x7f)
			return dev_err_probe(dev, -EINVAL, "%pOF: no 7-bit address in reg\n", np);
		if (regfile_chip(rf, addr))
			return dev_err_probe(dev, -EINVAL, "%pOF: address 0x%02x taken twice\n", np, addr);
		if (rf->n == REGFILE_MAX_CHIPS)
			return dev_err_probe(dev, -EINVAL, "more than %d devices\n", REGFILE_MAX_CHIPS);
		chip = &rf->chips[rf->n++];
		chip->addr = addr;
		ret = regfile_pairs(dev, np, "quorvin-test,regs", chip->regs);
		if (!ret)
			ret = regfile_pairs(dev, np, "quorvin-test,self-clearing", chip->self_clearing);
		if (ret)
			return ret;
	}

	rf->adap.owner = THIS_MODULE;
	rf->adap.algo = &regfile_algo;
	rf->adap.dev.parent = dev;
	rf->adap.dev.of_node = dev->of_node;
	strscpy(rf->adap.name, "register-file bus", sizeof(rf->adap.name));
	i2c_set_adapdata(&rf->adap, rf);
	platform_set_drvdata(pdev, rf);
	/* Makes a client of each child node (the I2C core reads them). */
	return i2c_add_adapter(&rf->adap);
}

static void regfile_remove(struct platform_device *pdev)
{
	struct regfile *rf = platform_get_drvdata(pdev);

	i2c_del_adapter(&rf->adap);
}

static const struct of_device_id regfile_of_match[] = { { .compatible = "quorvin-test,i2c-regfile" }, {} };
MODULE_DEVICE_TABLE(of, regfile_of_match);

static struct platform_driver regfile_driver = {
	.probe = regfile_probe,
	.remove = regfile_remove,
	.driver = {
		.name = "i2c-regfile",
		.of_match_table = regfile_of_match,
	},
};
module_platform_driver(regfile_driver);

MODULE_DESCRIPTION("Test I2C bus of register files, described by the device tree");
MODULE_LICENSE("GPL");
