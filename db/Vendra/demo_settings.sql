-- Vendra demo: the third back-end instance of the demo shop. Instances 1 and
-- 2 and the customer settings are in demo.sql. The connectors the instances
-- are reached over belong to the selector's settings, not to this table:
-- instance 1 tw5 (orders handed over at once, EXPORTMESSAGETYPE 2), instance 2
-- tw4 and instance 3 twkt (both by the periodic run, EXPORTMESSAGETYPE 1).
INSERT INTO ORDEREXPORTFILE (KROID, DESCRIPTION, EXPORTMESSAGETYPE, SALESORDERTYPE,
    CREDITCARDORDERTYPE, MAXATTEMPTS, EMAIL, EXPORTDIRECTORY, EXPORTFILENAME) VALUES
  (3, 'ERP Linz', 1, 'SOK', 'CCK', 5, 'erp-linz@shop.example', 'exchange', 'orders3.xml');

-- Quotations: Hallvard's stay valid 30 days and its users are reminded 5
-- days before they expire; Lindqvist's are never reminded (14 days, as in
-- demo.sql). Corvetto keeps no row, so the sales parameters decide for it.
UPDATE CUSTOMERSETTING SET EXPIRATIONPERIOD = 30, NOTIFY = 1, NOTIFICATIONPERIOD = 5
  WHERE BUSINESSPARTNERID = 1001;
UPDATE CUSTOMERSETTING SET NOTIFY = 0, NOTIFICATIONPERIOD = NULL
  WHERE BUSINESSPARTNERID = 1003;
