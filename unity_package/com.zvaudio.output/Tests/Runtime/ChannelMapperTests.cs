using System;
using NUnit.Framework;

namespace ZVAudio.Output.Tests
{
    // How a block of one channel count is re-laid to another.
    [TestFixture]
    public sealed class ChannelMapperTests
    {
        [Test]
        public void MapperRelaysFramesBetweenChannelCounts()
        {
            float[] mono = { 0.1f, 0.2f, 0.3f };
            var target = new float[6];
            ChannelMapper.Map(mono, 1, 1, 2, target, 3);
            Assert.AreEqual("0.2 0.2 0.2 0.3 0.3 0.3", Join(target, 6), "mono to three channels");

            float[] stereo = { 0.2f, 0.4f, -1.0f, 0.0f };
            ChannelMapper.Map(stereo, 2, 0, 2, target, 1);
            Assert.AreEqual("0.3 -0.5", Join(target, 2), "stereo mixed down");

            float[] quad = { 1, 2, 3, 4, 5, 6, 7, 8 };
            ChannelMapper.Map(quad, 4, 0, 2, target, 2);
            Assert.AreEqual("1 2 5 6", Join(target, 4), "quad to stereo keeps the front pair");
            ChannelMapper.Map(stereo, 2, 0, 2, target, 3);
            Assert.AreEqual("0.2 0.4 0 -1 0 0", Join(target, 6), "stereo to three, the third silent");

            Assert.Throws<ArgumentOutOfRangeException>(() => ChannelMapper.Map(stereo, 2, 1, 2, target, 2),
                                                      "frames past the source");
            Assert.Throws<ArgumentOutOfRangeException>(() => ChannelMapper.Map(stereo, 2, 0, 2, target, 4),
                                                      "frames past the target");
        }

        private static string Join(float[] values, int count)
        {
            var parts = new string[count];
            for (int i = 0; i < count; ++i)
                parts[i] = values[i].ToString("0.###", System.Globalization.CultureInfo.InvariantCulture);
            return string.Join(" ", parts);
        }
    }
}
