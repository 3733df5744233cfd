SELECT LastName, Title, Salary FROM Employees AS T1
WHERE Salary >= (SELECT Avg(Salary) FROM Employees WHERE T1.Title = Employees.Title);
