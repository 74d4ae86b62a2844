using System;
using System.Collections.Generic;
using System.Reflection;

namespace ZVAudio.Output.Tests
{
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class TestAttribute : Attribute
    {
    }

    public sealed class CheckFailed : Exception
    {
        public CheckFailed(string message) : base(message)
        {
        }
    }

    public static class Check
    {
        public static void True(bool condition, string what)
        {
            if (!condition)
                throw new CheckFailed(what);
        }

        public static void False(bool condition, string what)
        {
            if (condition)
                throw new CheckFailed(what);
        }

        public static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
                throw new CheckFailed(string.Format("{0}: expected {1}, got {2}", what, expected,
                                                    actual));
        }

        public static void Near(double expected, double actual, double tolerance, string what)
        {
            if (Math.Abs(expected - actual) > tolerance)
                throw new CheckFailed(string.Format("{0}: expected {1} +- {2}, got {3}", what,
                                                    expected, tolerance, actual));
        }

        public static void Throws<TException>(Action action, string what)
            where TException : Exception
        {
            try
            {
                action();
            }
            catch (TException)
            {
                return;
            }
            throw new CheckFailed(what + ": expected " + typeof(TException).Name);
        }
    }

    // Runs every public [Test] method of every class in this assembly, in name
    // order, with an optional name filter as the first argument: the static
    // ones here, and those of the package's own tests (Tests/ in the package,
    // which the engine's test framework runs), each on a fresh instance of its
    // fixture. Inside the namespace ZVAudio.Output.Tests their [Test] names this
    // runner's attribute, elsewhere NUnit's.
    public static class TestRunner
    {
        public static int Main(string[] args)
        {
            string filter = args.Length > 0 ? args[0] : null;
            var tests = new List<MethodInfo>();
            foreach (Type type in typeof(TestRunner).Assembly.GetTypes())
                foreach (MethodInfo method in type.GetMethods(BindingFlags.Public | BindingFlags.Static |
                                                              BindingFlags.Instance | BindingFlags.DeclaredOnly))
                    if (method.IsDefined(typeof(TestAttribute), false) ||
                        method.IsDefined(typeof(NUnit.Framework.TestAttribute), false))
                        tests.Add(method);
            tests.Sort((a, b) => string.CompareOrdinal(Name(a), Name(b)));

            NativeState.Reset();
            int passed = 0;
            int failed = 0;
            foreach (MethodInfo test in tests)
            {
                string name = Name(test);
                if (filter != null && name.IndexOf(filter, StringComparison.Ordinal) < 0)
                    continue;
                try
                {
                    test.Invoke(test.IsStatic ? null : Activator.CreateInstance(test.DeclaringType), null);
                    ++passed;
                    Console.WriteLine("[ PASS ] " + name);
                }
                catch (TargetInvocationException e)
                {
                    ++failed;
                    Exception cause = e.InnerException;
                    Console.WriteLine("[ FAIL ] " + name + ": " +
                                      (cause is CheckFailed || cause is NUnit.Framework.AssertionException
                                             ? cause.Message
                                             : cause.ToString()));
                }
                finally
                {
                    NativeState.Reset();
                }
            }
            NativeState.Shutdown();
            Console.WriteLine("{0} passed, {1} failed", passed, failed);
            return failed == 0 && passed > 0 ? 0 : 1;
        }

        private static string Name(MethodInfo method)
        {
            return method.DeclaringType.Name + "." + method.Name;
        }
    }
}
