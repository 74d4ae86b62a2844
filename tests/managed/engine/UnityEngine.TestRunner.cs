// A compile-time stand-in for the part of the engine's test framework
// (UnityEngine.TestRunner) that the package's tests use; see UnityEngine.cs.
// Only members that both the 2021.3 and the Unity 6 test framework declare.
using System;
using System.Text.RegularExpressions;

namespace UnityEngine.TestTools
{
    public static class LogAssert
    {
        public static void Expect(LogType type, string message) { throw Stub(); }
        public static void Expect(LogType type, Regex message) { throw Stub(); }
        public static void NoUnexpectedReceived() { throw Stub(); }
        public static bool ignoreFailingMessages { get { throw Stub(); } set { throw Stub(); } }

        private static Exception Stub() { return new NotSupportedException("compile-time stand-in"); }
    }
}
