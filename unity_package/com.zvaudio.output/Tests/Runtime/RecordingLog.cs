using System;
using System.Collections.Generic;
using NUnit.Framework;

namespace ZVAudio.Output.Tests
{
    // What ForwarderController said, one "level: message" line each.
    public sealed class RecordingLog : IForwarderLog
    {
        public readonly List<string> Lines = new List<string>();

        public void Info(string message)
        {
            Lines.Add("info: " + message);
        }

        public void Warning(string message)
        {
            Lines.Add("warning: " + message);
        }

        public void Error(string message)
        {
            Lines.Add("error: " + message);
        }

        // Checks that exactly `expected` lines were said, each starting with its
        // level and containing its words; clears them.
        public void Expect(string what, params string[] expected)
        {
            Assert.AreEqual(expected.Length, Lines.Count, what + ", lines said: " + string.Join(" | ", Lines.ToArray()));
            for (int i = 0; i < expected.Length; ++i)
            {
                string[] parts = expected[i].Split(new[] { ": " }, 2, StringSplitOptions.None);
                Assert.IsTrue(Lines[i].StartsWith(parts[0] + ": ") && Lines[i].Contains(parts[1]),
                              what + ": expected '" + expected[i] + "', said '" + Lines[i] + "'");
            }
            Lines.Clear();
        }
    }
}
