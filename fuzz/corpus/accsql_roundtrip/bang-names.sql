SELECT Forms!frmMain!txtName, [Orders]![OrderID] FROM Orders
