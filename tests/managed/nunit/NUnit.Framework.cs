// A stand-in for the part of NUnit 3 that the package's Unity Test Framework
// tests use, with NUnit's names and signatures, so that they compile against
// it in CI and the Mono runner (TestRunner.cs) runs them. The engine's test
// framework brings the real NUnit.
using System;
using System.Globalization;

namespace NUnit.Framework
{
    public delegate void TestDelegate();

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class TestFixtureAttribute : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Method)]
    public sealed class TestAttribute : Attribute
    {
    }

    public class AssertionException : Exception
    {
        public AssertionException(string message) : base(message)
        {
        }
    }

    public static class Assert
    {
        // Numbers compare by value whatever their types, as NUnit's do.
        public static void AreEqual(object expected, object actual, string message, params object[] args)
        {
            if (!Same(expected, actual))
                Fail(string.Format(CultureInfo.InvariantCulture, "{0}: expected {1}, but was {2}",
                                   Format(message, args), Show(expected), Show(actual)));
        }

        public static void AreEqual(object expected, object actual)
        {
            AreEqual(expected, actual, "values differ");
        }

        public static void AreEqual(double expected, double actual, double delta, string message, params object[] args)
        {
            if (Math.Abs(expected - actual) > delta)
                Fail(string.Format(CultureInfo.InvariantCulture, "{0}: expected {1} +/- {2}, but was {3}",
                                   Format(message, args), expected, delta, actual));
        }

        public static void IsTrue(bool condition, string message, params object[] args)
        {
            if (!condition)
                Fail(Format(message, args));
        }

        public static void IsFalse(bool condition, string message, params object[] args)
        {
            if (condition)
                Fail(Format(message, args));
        }

        public static void IsNull(object anObject, string message, params object[] args)
        {
            if (anObject != null)
                Fail(Format(message, args) + ": expected null, but was " + Show(anObject));
        }

        public static void IsNotNull(object anObject, string message, params object[] args)
        {
            if (anObject == null)
                Fail(Format(message, args) + ": expected a value, but was null");
        }

        public static TActual Throws<TActual>(TestDelegate code, string message, params object[] args)
            where TActual : Exception
        {
            try
            {
                code();
            }
            catch (TActual e)
            {
                return e;
            }
            catch (Exception e)
            {
                Fail(Format(message, args) + ": expected " + typeof(TActual).Name + ", but was " + e.GetType().Name);
            }
            Fail(Format(message, args) + ": expected " + typeof(TActual).Name + ", but nothing was thrown");
            return null;
        }

        public static void Fail(string message)
        {
            throw new AssertionException(message);
        }

        internal static string Format(string message, object[] args)
        {
            return args == null || args.Length == 0 ? message : string.Format(message, args);
        }

        private static bool Same(object expected, object actual)
        {
            if (IsNumber(expected) && IsNumber(actual))
                return Convert.ToDecimal(expected, CultureInfo.InvariantCulture) ==
                       Convert.ToDecimal(actual, CultureInfo.InvariantCulture);
            return Equals(expected, actual);
        }

        private static bool IsNumber(object value)
        {
            return value is sbyte || value is byte || value is short || value is ushort || value is int ||
                   value is uint || value is long || value is ulong || value is decimal;
        }

        private static string Show(object value)
        {
            return value == null ? "null" : value is string ? "\"" + value + "\"" : value.ToString();
        }
    }

    public static class StringAssert
    {
        public static void Contains(string expected, string actual, string message, params object[] args)
        {
            if (actual == null || !actual.Contains(expected))
                Assert.Fail(Assert.Format(message, args) + ": expected a string containing \"" + expected +
                            "\", but was " + (actual == null ? "null" : "\"" + actual + "\""));
        }
    }
}
